// Hundreds of clients that never finish a request, against a server with few client permits and
// short deadlines: each is dropped at its deadline, well-behaved clients are served in between,
// and afterwards every permit, thread and descriptor is back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/FileDescriptor.h"
#include "server/ConnectionTestSupport.h"
#include "server/StatusCode.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t MaxClients = 16;
constexpr auto IdleTimeout = 1000ms;
constexpr auto RequestTimeout = 1500ms;

// Answers "echo <request>"; the request "hold" waits until the test opens the gate.
class EchoFactory : public StringClassifierFactory {
public:
    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Echo>(this);
    }

    bool waitForHolders(int n) const { return _gate.waitForHolders(n); }
    void openGate() const { _gate.open(); }

private:
    class Echo : public StringClassifier {
    public:
        explicit Echo(const EchoFactory* factory) : _factory(factory) {}
        std::string process(const std::string& request) override {
            if (request == "hold") _factory->_gate.hold();
            return "echo " + request;
        }

    private:
        const EchoFactory* _factory;
    };

    Gate _gate;
};

std::size_t entries(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

// An ended thread can stay listed for a moment after its join.
bool settlesAt(const char* folder, std::size_t expected) {
    const auto deadline = Clock::now() + 20s;
    while (entries(folder) != expected) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A client socket that connected and never ends its request; it is dropped when the server
// closes it without a byte of answer.
struct BadClient {
    std::unique_ptr<io::filesystem::FileDescriptor> socket;
    bool trickles = false;
    Clock::time_point connected;
    Clock::duration lifetime{};
    bool dropped = false;
    std::string received;
};

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads what the server sent; true once it has closed its side.
bool drain(BadClient& client) {
    char buffer[256];
    for (;;) {
        const ssize_t n = ::recv(client.socket->get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            client.received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
}

class ClassifyConnectionDeadlineTest : public ::testing::Test {
protected:
    ClassifyConnectionDeadlineTest() {
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        _params.maxInput = widenMaxInput(1 << 20);
        _params.log = &_log;
        _params.classifierFactory = &_classifiers;
        _params.errorResponseFactory = &_errors;
        _params.idleTimeout = IdleTimeout;
        _params.requestTimeout = RequestTimeout;
        // A thread started and joined first: runtimes that add a helper thread at the first
        // thread start (ThreadSanitizer does) have done so before the baseline is taken.
        std::thread([] {}).join();
    }

    // Polls every open bad client, trickles a byte into the slow ones now and then, and records
    // each drop, until all are dropped or the time is up.
    void watch(std::vector<BadClient>& clients, std::atomic<int>& open) {
        const auto giveUp = Clock::now() + 180s;
        auto nextTrickle = Clock::now();
        while (open.load() > 0 && Clock::now() < giveUp) {
            if (Clock::now() >= nextTrickle) {
                for (BadClient& client : clients) {
                    if (client.trickles && !client.dropped) {
                        ::send(client.socket->get(), "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    }
                }
                nextTrickle = Clock::now() + 100ms;
            }
            std::vector<pollfd> entries;
            std::vector<BadClient*> polled;
            for (BadClient& client : clients) {
                if (client.dropped) continue;
                entries.push_back({client.socket->get(), POLLIN, 0});
                polled.push_back(&client);
            }
            ::poll(entries.data(), entries.size(), 50);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].revents == 0 || !drain(*polled[i])) continue;
                polled[i]->dropped = true;
                polled[i]->lifetime = Clock::now() - polled[i]->connected;
                --open;
            }
        }
    }

    std::size_t errorsContaining(const std::string& part) {
        std::size_t count = 0;
        for (const LogLine& line : _log.lines()) {
            if (line.level == "Error" && line.text.find(part) != std::string::npos) ++count;
        }
        return count;
    }

    RecordingLog _log;
    EchoFactory _classifiers;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test", "1.00"};
    ConnectionParams _params;
};

TEST_F(ClassifyConnectionDeadlineTest, IdleAndSlowClientsAreDroppedAndEverythingComesBack) {
    constexpr int Idle = 500;
    constexpr int Slow = 200;
    const std::size_t descriptorsBefore = entries("/proc/self/fd");
    const std::size_t threadsBefore = entries("/proc/self/task");
    {
        platform::thread::OsInfoImpl os;
        platform::thread::ThreadFactoryImpl threads(&os);
        // A backlog that holds every waiting client, so none waits on a refused connect.
        ClassifyServer server(&threads, 0, MaxClients, 1024, &_params, nullptr);
        server.createClientsThread()->start();
        server.deleteClientsThread()->start();
        const std::uint16_t port = server.localPort();

        std::vector<BadClient> bad(Idle + Slow);
        std::atomic<int> open{0};
        for (std::size_t i = 0; i < bad.size(); ++i) {
            bad[i].socket = std::make_unique<io::filesystem::FileDescriptor>(connectTo(port));
            ASSERT_TRUE(bad[i].socket->valid()) << i;
            bad[i].trickles = i % 7 < 2;  // 200 of the 700, spread between the idle ones
            bad[i].connected = Clock::now();
            ++open;
        }

        // Well-behaved clients keep coming while the bad ones are around. Each waits behind at
        // most the bad clients still open when it came, and each of those holds a permit for at
        // most the request deadline.
        std::atomic<int> answered{0};
        std::atomic<int> late{0};
        std::atomic<int> wrong{0};
        std::mutex longestMutex;
        Clock::duration longest{};
        std::vector<std::thread> good;
        for (int g = 0; g < 4; ++g) {
            good.emplace_back([&, g] {
                for (int n = 0; open.load() > 0; ++n) {
                    const int ahead = open.load();
                    const auto bound =
                        RequestTimeout * ((ahead + MaxClients - 1) / MaxClients + 1) + 3s;
                    const auto start = Clock::now();
                    RawClient client(port);
                    const std::string request =
                        "request " + std::to_string(g) + "." + std::to_string(n);
                    const bool sent = client.connected() && client.request(request);
                    if (!sent || client.answer() != "echo " + request) ++wrong;
                    const auto waited = Clock::now() - start;
                    if (waited > bound) ++late;
                    ++answered;
                    std::lock_guard lock(longestMutex);
                    longest = std::max(longest, waited);
                }
            });
        }
        watch(bad, open);
        for (std::thread& thread : good) thread.join();

        EXPECT_EQ(0, open.load());
        for (const BadClient& client : bad) {
            EXPECT_TRUE(client.dropped);
            EXPECT_EQ("", client.received);
            // The deadlines count from the accept, which is never before the connect.
            EXPECT_GE(client.lifetime, client.trickles ? RequestTimeout : IdleTimeout);
        }
        EXPECT_EQ(std::size_t(Idle), errorsContaining("sent nothing for 1000 milliseconds."));
        EXPECT_EQ(std::size_t(Slow),
                  errorsContaining("did not finish sending its request within 1500 milliseconds"));
        std::printf("%d well-behaved requests answered, the longest after %lld ms\n",
                    answered.load(),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
        EXPECT_GT(answered.load(), 4);
        EXPECT_EQ(0, late.load());
        EXPECT_EQ(0, wrong.load());
        bad.clear();

        // Every permit is free again: MaxClients requests are held in process at once.
        std::vector<std::thread> holders;
        for (std::uint32_t i = 0; i < MaxClients; ++i) {
            holders.emplace_back([port] {
                RawClient client(port);
                if (client.request("hold")) client.answer();
            });
        }
        EXPECT_TRUE(_classifiers.waitForHolders(MaxClients));
        _classifiers.openGate();
        for (std::thread& holder : holders) holder.join();
        server.stop();
    }
    EXPECT_TRUE(settlesAt("/proc/self/fd", descriptorsBefore))
        << entries("/proc/self/fd") << " descriptors, " << descriptorsBefore << " before";
    EXPECT_TRUE(settlesAt("/proc/self/task", threadsBefore))
        << entries("/proc/self/task") << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace norvale::quillmark
