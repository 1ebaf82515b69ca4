// Hostile clients against a server with few workers and short deadlines: clients that never read
// a large answer, idle ones and ones that trickle a byte a second. A well-behaved client is served
// at once all the same, each hostile one is dropped at its deadline, stop does not wait on any of them, and afterwards every thread and
// descriptor is back.

#include <poll.h>
#include <sys/resource.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "server/ConnectionTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sanitizer builds run several times slower: their deadlines and bounds are stretched alike.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int Slowdown = 3;
#else
constexpr int Slowdown = 1;
#endif
constexpr std::chrono::milliseconds IdleTimeout{2500 * Slowdown};
constexpr std::chrono::milliseconds RequestTimeout{3500 * Slowdown};
constexpr std::chrono::milliseconds WellBehavedBound{1000 * Slowdown};

constexpr std::uint32_t MaxClients = 8;
constexpr int NeverReading = 32;
constexpr int Idle = 200;
constexpr int Trickling = 50;
// Larger than what the kernel buffers on both ends of a loopback connection.
constexpr std::size_t LargeAnswer = 6 << 20;
const std::string SendDeadline = "^The client with id [0-9]+ did not read its answer within " +
                                 std::to_string(RequestTimeout.count()) +
                                 " milliseconds; the connection was dropped\\.$";

// "large" is answered with LargeAnswer bytes, anything else with "echo " and the request.
class LargeAnswerFactory : public StringClassifierFactory {
public:
    std::unique_ptr<StringClassifier> create() const override { return std::make_unique<Echo>(); }

private:
    class Echo : public StringClassifier {
    public:
        std::string process(const std::string& request) override {
            if (request == "large") return std::string(LargeAnswer, 'x');
            return "echo " + request;
        }
    };
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

// Whether the server has closed the connection, reading what it sent on the way; a connection
// the server closed with an answer still under way ends once that is read, so it is given a
// few seconds.
bool closedByServer(int fd) {
    char buffer[65536];
    const auto giveUp = Clock::now() + 5s;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return true;
        pollfd entry{fd, POLLIN, 0};
        if (Clock::now() > giveUp || ::poll(&entry, 1, 100) == 0) return false;
    }
}

class ClassifyServerTest : public ::testing::Test {
protected:
    ClassifyServerTest() {
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
        _params.sendTimeout = RequestTimeout;
        // Runtimes that add a helper thread at the first thread start (ThreadSanitizer does)
        // have done so before the baseline is taken.
        std::thread([] {}).join();
        _descriptors = entries("/proc/self/fd");
        _threads = entries("/proc/self/task");
    }

    // The hostile clients, all connected: the never-reading ones have sent their request.
    void connectHostileClients(std::uint16_t port) {
        for (int i = 0; i < NeverReading; ++i) {
            _neverReading.push_back(std::make_unique<RawClient>(port, 4096));
            ASSERT_TRUE(_neverReading.back()->request("large"));
        }
        for (int i = 0; i < Idle; ++i) _idle.push_back(std::make_unique<RawClient>(port));
        for (int i = 0; i < Trickling; ++i) {
            _trickling.push_back(std::make_unique<RawClient>(port));
            _trickling.back()->send("<");
        }
        for (const auto* group : {&_neverReading, &_idle, &_trickling}) {
            for (const auto& client : *group) ASSERT_TRUE(client->connected());
        }
    }

    // One byte a second from each trickling client, on a thread of its own: no wait of the test
    // (slow under sanitizers) may leave a gap that the idle deadline would take for silence.
    std::jthread trickleEverySecond() {
        return std::jthread([this](const std::stop_token& stop) {
            while (!stop.stop_requested()) {
                for (int tick = 0; tick < 10 && !stop.stop_requested(); ++tick) {
                    std::this_thread::sleep_for(100ms);
                }
                for (const auto& client : _trickling) {
                    ::send(client->fd(), "<", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
        });
    }

    // Well-behaved requests one after the other for `span`, each timed from its connect.
    Clock::duration serveWellBehaved(std::uint16_t port, Clock::duration span) {
        Clock::duration longest{};
        for (const auto end = Clock::now() + span; Clock::now() < end;) {
            const auto start = Clock::now();
            RawClient client(port);
            EXPECT_TRUE(client.request("hello"));
            EXPECT_EQ("echo hello", client.answer());
            longest = std::max(longest, Clock::now() - start);
            std::this_thread::sleep_for(100ms);
        }
        return longest;
    }

    int linesMatching(const std::string& level, const std::string& pattern) {
        const std::regex expression(pattern);
        int count = 0;
        for (const LogLine& line : _log.lines()) {
            if (line.level == level && std::regex_search(line.text, expression)) ++count;
        }
        return count;
    }

    void expectNothingLeaks() {
        EXPECT_TRUE(settlesAt("/proc/self/fd", _descriptors))
            << entries("/proc/self/fd") << " descriptors, " << _descriptors << " before";
        EXPECT_TRUE(settlesAt("/proc/self/task", _threads))
            << entries("/proc/self/task") << " threads, " << _threads << " before";
    }

    RecordingLog _log;
    LargeAnswerFactory _classifiers;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test", "1.00"};
    ConnectionParams _params;
    std::size_t _descriptors = 0;
    std::size_t _threads = 0;
    std::vector<std::unique_ptr<RawClient>> _neverReading;
    std::vector<std::unique_ptr<RawClient>> _idle;
    std::vector<std::unique_ptr<RawClient>> _trickling;
};

TEST_F(ClassifyServerTest, HostileClientsNeitherDelayOthersNorOutliveTheirDeadlines) {
    {
        RunningServer server(&_params, MaxClients);
        const std::uint16_t port = server.port();
        connectHostileClients(port);
        const std::jthread trickler = trickleEverySecond();
        // All of them accepted and every large answer under way.
        ASSERT_TRUE(_log.waitFor({"Log", "Running connection " +
                                             std::to_string(NeverReading + Idle + Trickling) +
                                             "."}));
        while (linesMatching("Log", "^Received a request") < NeverReading) {
            std::this_thread::sleep_for(100ms);
        }

        const Clock::duration longest = serveWellBehaved(port, 2s);
        EXPECT_LT(longest, WellBehavedBound) << std::chrono::duration_cast<std::chrono::milliseconds>(longest)
                                      .count()
                               << " ms";

        // Everyone hostile is gone by the deadlines. Reading from a never-reading client would
        // let its answer go, so those are checked through the log first.
        const auto giveUp = Clock::now() + 20s;
        bool allClosed = false;
        while (!allClosed && Clock::now() < giveUp) {
            std::this_thread::sleep_for(200ms);
            allClosed = linesMatching("Log", SendDeadline) == NeverReading;
            for (const auto* group : {&_idle, &_trickling}) {
                for (const auto& client : *group) allClosed &= closedByServer(client->fd());
            }
        }
        EXPECT_TRUE(allClosed);
        for (const auto& client : _neverReading) EXPECT_TRUE(closedByServer(client->fd()));
    }
    EXPECT_EQ(Idle, linesMatching("Error", "sent nothing for " +
                                               std::to_string(IdleTimeout.count()) +
                                               " milliseconds\\.$"));
    EXPECT_EQ(Trickling, linesMatching("Error", "did not finish sending its request within " +
                                                    std::to_string(RequestTimeout.count()) +
                                                    " milliseconds of connecting\\.$"));
    EXPECT_EQ(NeverReading, linesMatching("Log", SendDeadline));
    _neverReading.clear();
    _idle.clear();
    _trickling.clear();
    expectNothingLeaks();
}

TEST_F(ClassifyServerTest, StopDoesNotWaitOnHostileClients) {
    // No deadline comes before the stop.
    _params.idleTimeout = _params.requestTimeout = _params.sendTimeout = 60s;
    {
        RunningServer server(&_params, MaxClients);
        connectHostileClients(server.port());
        // The large answers are being sent, blocked on clients that do not read.
        ASSERT_TRUE(_log.waitFor({"Log", "Received a request from client with id 32 with the "
                                         "size of 5."}));
        const auto start = Clock::now();
        server.stop();
        // Running answers get the stop bound; closing the rest takes a moment more.
        EXPECT_LT(Clock::now() - start,
                  net::server::EventServer::DefaultStopBound + std::chrono::seconds(Slowdown));
    }
    for (const auto* group : {&_neverReading, &_idle, &_trickling}) {
        for (const auto& client : *group) EXPECT_TRUE(closedByServer(client->fd()));
    }
    EXPECT_EQ(0, linesMatching("Error", "."));
    _neverReading.clear();
    _idle.clear();
    _trickling.clear();
    expectNothingLeaks();
}

TEST_F(ClassifyServerTest, ClientsOutsideTheAllowedNetworksAreClosedWithoutAnAnswer) {
    net::server::EventServerLimits limits;
    limits.workers = 2;
    const net::server::EventServerAccess access{"127.0.0.1",
                                                net::server::ClientNetworks::parse("127.0.0.1")};
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads(&os);
    {
        ClassifyServer server(&threads, 0, limits, &_params, access);
        server.start();
        // Every 127.x.y.z address is this machine's own, so 127.0.0.2 is a client from outside.
        const int outside = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7f000002);
        ASSERT_EQ(0, ::bind(outside, reinterpret_cast<sockaddr*>(&address), sizeof address));
        address.sin_port = htons(server.localPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, ::connect(outside, reinterpret_cast<sockaddr*>(&address), sizeof address));
        ::send(outside, "hello", 5, MSG_NOSIGNAL);
        ::shutdown(outside, SHUT_WR);
        pollfd entry{outside, POLLIN, 0};
        ASSERT_EQ(1, ::poll(&entry, 1, 5000));
        char byte = 0;
        EXPECT_GE(0, ::recv(outside, &byte, 1, 0));  // the end, or a reset: no answer
        ::close(outside);

        RawClient inside(server.localPort());
        ASSERT_TRUE(inside.request("hello"));
        EXPECT_EQ("echo hello", inside.answer());
        EXPECT_TRUE(_log.waitFor(
            {"Log", "Refused 1 connections from clients outside the allowed networks."}));
        server.stop();
    }
    EXPECT_EQ(1, linesMatching("Log", "^Received a request "));  // the inside client's only
    expectNothingLeaks();
}

}  // namespace
}  // namespace norvale::quillmark
