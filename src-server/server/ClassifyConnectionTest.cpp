// The client road: every accepted client a ClassifyConnection on the event server, over request
// executors the test scripts: what each connection logs and answers, the input limit, failures
// around process, the allowed networks, the bound on open connections, and hostile clients
// against few workers and short deadlines. That a stop does not wait on hostile clients,
// QuillmarkServerTest shows on the whole process.
#include "server/ClassifyConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <regex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "exceptions/Exception.h"
#include "net/socket/SocketExceptions.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/StatusCode.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark {
namespace {

using testing::LoopbackClient;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Clients = std::vector<std::unique_ptr<LoopbackClient>>;

// A started ClassifyServer on a port the system picks; stopped when destroyed.
class RunningServer {
public:
    RunningServer(const ConnectionParams* params, std::uint32_t maxClients,
                  std::size_t maxConnections = 0, const net::server::EventServerAccess& access = {})
        : _server(&_threads, 0, {maxClients, 1024, maxConnections}, params, access) {
        _server.start();
    }
    ~RunningServer() { _server.stop(); }
    std::uint16_t port() const { return _server.localPort(); }

private:
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    ClassifyServer _server;
};

// Entries of the log whose message matches pattern, at level ("Log", "Error").
int linesMatching(const testing::RecordingLog& log, const std::string& level,
                  const std::string& pattern) {
    const std::regex expression(pattern);
    const std::vector<std::string> texts = log.texts(level);
    return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& text) {
        return std::regex_search(text, expression);
    }));
}

// "processed <size> <FNV-1a digest>", so that a large request is known to have arrived whole.
std::string expectedAnswer(const std::string& request) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : request) hash = (hash ^ c) * 1099511628211ull;
    return "processed " + std::to_string(request.size()) + " " + std::to_string(hash);
}

// Answers expectedAnswer, "large" with 6 MiB; a few request texts make it fail in a chosen way.
class FakeClassifierFactory : public StringClassifierFactory {
public:
    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Fake>(this);
    }
    mutable std::atomic<int> processed{0};

private:
    class Fake : public StringClassifier {
    public:
        explicit Fake(const FakeClassifierFactory* factory) : _factory(factory) {}
        std::string process(const std::string& request) override {
            ++_factory->processed;
            if (request == "exception") throw exceptions::Exception("The classifier failed.");
            if (request == "com") throw xml::ComInitializerException("No XML library.");
            if (request == "socket") throw net::socket::ReadException("The socket failed.");
            if (request == "memory") throw std::bad_alloc();
            if (request == "large") return std::string(6 << 20, 'x');
            return expectedAnswer(request);
        }

    private:
        const FakeClassifierFactory* _factory;
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

class ClassifyConnectionTest : public ::testing::Test {
protected:
    ClassifyConnectionTest() {
        _params.maxInput = widenMaxInput(1 << 20);
        _params.log = &_log;
        _params.metrics = &_metrics;
        _params.classifierFactory = &_classifiers;
        _params.errorResponseFactory = &_errors;
    }
    std::string errorDocument(int code, const std::string& message) {
        return _errors.create()->getErrorResponse(code, message);
    }
    bool finished(std::uint32_t id) {
        return _log.waitFor("Log: Finished connection with id " + std::to_string(id));
    }

    testing::RecordingLog _log;
    FakeClassifierFactory _classifiers;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test", "1.00"};
    Metrics _metrics;
    ConnectionParams _params;
};

// One server, clients one after the other: failures around process answered and logged by
// kind; a request of exactly the input limit (spanning several of the server's 16384-byte
// reads) served and one byte more refused once the client ends; a client from outside the
// allowed networks closed without an answer; beyond the limit of open connections a client
// closed at once, the refusals counted in the log at most once a second. Nothing refused
// reaches the classifier.
TEST_F(ClassifyConnectionTest, ServesAndRefusesEachClientByItsKind) {
    _params.maxInput = 3 * 16384 + 100;
    const RunningServer server(&_params, 2, 2,
                               {"127.0.0.1", net::server::ClientNetworks::parse("127.0.0.1")});
    const std::uint16_t port = server.port();
    const std::string failures[] = {
        "An Exception when running a connection with id 1.The classifier failed.",
        "An ComInitializerException occured when running a connection with id 2. No XML library.",
        "An SocketException when running a connection with id 3. The socket failed.",
        "Out of memory."};
    const std::pair<std::string, std::string> asked[] = {
        {"exception", errorDocument(statusCode::SERVER_ERROR, failures[0])},
        {"com", errorDocument(statusCode::SERVER_ERROR, failures[1])},
        {"socket", ""},
        {"memory", errorDocument(statusCode::OUT_OF_MEMORY, "")},
    };
    for (const auto& [request, answer] : asked) {
        EXPECT_EQ(answer, LoopbackClient::ask(port, request)) << request;
    }
    std::string request;
    for (std::uint64_t i = 0; i < _params.maxInput; ++i) request += static_cast<char>('a' + i % 23);
    EXPECT_EQ(expectedAnswer(request), LoopbackClient::ask(port, request));

    LoopbackClient over(port);
    ASSERT_TRUE(over.send(request + "x"));
    const std::string tooLarge = "Client with id 6 exceeded maximum input size 49252.";
    ASSERT_TRUE(_log.waitFor("Log: " + tooLarge));
    // Still sending, far past the limit: the server reads and drops, and answers nothing yet.
    ASSERT_TRUE(over.send(std::string(200000, 'y')));
    EXPECT_FALSE(over.readable(300ms));
    ASSERT_TRUE(over.finish());
    EXPECT_EQ(errorDocument(statusCode::REQUEST_TOO_LARGE, tooLarge), over.answer());
    EXPECT_FALSE(over.wasReset());
    ASSERT_TRUE(finished(6));

    // Every 127.x.y.z address is this machine's own, so 127.0.0.2 is a client from outside.
    const int outside = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7f000002);
    ASSERT_EQ(0, ::bind(outside, reinterpret_cast<sockaddr*>(&address), sizeof address));
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(outside, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ::send(outside, "hello", 5, MSG_NOSIGNAL);
    ::shutdown(outside, SHUT_WR);
    EXPECT_TRUE(closedByServer(outside));
    ::close(outside);
    EXPECT_TRUE(
        _log.waitFor("Log: Refused 1 connections from clients outside the allowed networks."));

    LoopbackClient first(port);
    LoopbackClient second(port);
    ASSERT_TRUE(_log.waitFor("Log: Running connection 8."));
    std::vector<std::unique_ptr<LoopbackClient>> refused;
    for (int i = 0; i < 5; ++i) {
        refused.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_TRUE(refused.back()->readable(5s));
        EXPECT_EQ("", refused.back()->answer());
    }
    first.abort();
    second.abort();
    ASSERT_TRUE(finished(7) && finished(8));
    EXPECT_EQ(expectedAnswer("welcome"), LoopbackClient::ask(port, "welcome"));
    const std::regex refusal(
        "Refused ([0-9]+) connections: the limit of 2 open connections was reached\\.");
    int counted = 0;
    for (const auto start = Clock::now(); counted < 5 && Clock::now() - start < 10s;) {
        counted = 0;
        for (const std::string& line : _log.texts("Log")) {
            std::smatch count;
            if (std::regex_match(line, count, refusal)) counted += std::stoi(count[1]);
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(5, counted);
    ASSERT_TRUE(finished(9));
    EXPECT_FALSE(_log.contains("Log: Creating connection with id 10"));
    EXPECT_EQ(6, _classifiers.processed.load());
    EXPECT_EQ(6, linesMatching(_log, "Log", "^Received a request "));
    // The two connections that went with a reset come last.
    std::vector<std::string> errors = _log.texts("Error");
    ASSERT_EQ(6u, errors.size());
    errors.resize(4);
    EXPECT_EQ(std::vector<std::string>(std::begin(failures), std::end(failures)), errors);
}

// Against few workers and short deadlines, clients that never read their large answer, idle
// ones and ones trickling their request: a well-behaved client is served at once all the same,
// each hostile one is dropped at its deadline, and afterwards every thread and descriptor is back.
TEST_F(ClassifyConnectionTest, HostileClientsNeitherDelayOthersNorOutliveTheirDeadlines) {
    // Sanitizer builds run several times slower: their deadlines and bounds are stretched alike.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int Slowdown = 3;
#else
    constexpr int Slowdown = 1;
#endif
    const std::chrono::milliseconds idleTimeout{2500 * Slowdown}, requestTimeout{3500 * Slowdown};
    constexpr int NeverReading = 32, Idle = 200, Trickling = 50;
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    // Runtimes that add a helper thread at the first thread start (ThreadSanitizer does) have
    // done so before the baseline is taken.
    std::thread([] {}).join();
    const std::size_t descriptors = entries("/proc/self/fd");
    const std::size_t threads = entries("/proc/self/task");
    _params.idleTimeout = idleTimeout;
    _params.requestTimeout = _params.sendTimeout = requestTimeout;
    const std::string sendDeadline = "^The client with id [0-9]+ did not read its answer within " +
                                     std::to_string(requestTimeout.count()) +
                                     " milliseconds; the connection was dropped\\.$";
    Clients neverReading, idle, trickling;
    {
        const RunningServer server(&_params, 8);
        const std::uint16_t port = server.port();
        for (int i = 0; i < NeverReading; ++i) {
            neverReading.push_back(std::make_unique<LoopbackClient>(port, 4096));
            ASSERT_TRUE(neverReading.back()->request("large"));
        }
        for (int i = 0; i < Idle; ++i) idle.push_back(std::make_unique<LoopbackClient>(port));
        for (int i = 0; i < Trickling; ++i) {
            trickling.push_back(std::make_unique<LoopbackClient>(port));
            trickling.back()->send("<");
        }
        for (const Clients* group : {&neverReading, &idle, &trickling}) {
            for (const auto& client : *group) ASSERT_TRUE(client->connected());
        }
        // One byte a second from each trickling client, on a thread of its own: no wait of the
        // test (slow under sanitizers) may leave a gap that the idle deadline takes for silence.
        const std::jthread trickler([&](const std::stop_token& stop) {
            while (!stop.stop_requested()) {
                for (int tick = 0; tick < 10 && !stop.stop_requested(); ++tick) {
                    std::this_thread::sleep_for(100ms);
                }
                for (const auto& client : trickling) {
                    ::send(client->fd(), "<", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
        });
        // All of them accepted and every large answer under way.
        ASSERT_TRUE(_log.waitFor("Log: Running connection " +
                                 std::to_string(NeverReading + Idle + Trickling) + "."));
        while (linesMatching(_log, "Log", "^Received a request") < NeverReading) {
            std::this_thread::sleep_for(100ms);
        }

        // Well-behaved requests one after the other, each timed from its connect.
        Clock::duration longest{};
        for (const auto end = Clock::now() + 2s; Clock::now() < end;) {
            const auto start = Clock::now();
            EXPECT_EQ(expectedAnswer("hello"), LoopbackClient::ask(port, "hello"));
            longest = std::max(longest, Clock::now() - start);
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_LT(longest, std::chrono::milliseconds(1000 * Slowdown))
            << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";

        // Everyone hostile is gone by the deadlines. Reading from a never-reading client would
        // let its answer go, so those are checked through the log first.
        bool allClosed = false;
        for (const auto giveUp = Clock::now() + 20s; !allClosed && Clock::now() < giveUp;) {
            std::this_thread::sleep_for(200ms);
            allClosed = linesMatching(_log, "Log", sendDeadline) == NeverReading;
            for (const auto* group : {&idle, &trickling}) {
                for (const auto& client : *group) allClosed &= closedByServer(client->fd());
            }
        }
        EXPECT_TRUE(allClosed);
        for (const auto& client : neverReading) EXPECT_TRUE(closedByServer(client->fd()));
    }
    EXPECT_EQ(Idle, linesMatching(_log, "Error",
                                  "sent nothing for " + std::to_string(idleTimeout.count()) +
                                      " milliseconds\\.$"));
    EXPECT_EQ(Trickling, linesMatching(_log, "Error",
                                       "did not finish sending its request within " +
                                           std::to_string(requestTimeout.count()) +
                                           " milliseconds of connecting\\.$"));
    EXPECT_EQ(NeverReading, linesMatching(_log, "Log", sendDeadline));
    neverReading.clear();
    idle.clear();
    trickling.clear();
    EXPECT_TRUE(settlesAt("/proc/self/fd", descriptors))
        << entries("/proc/self/fd") << " descriptors, " << descriptors << " before";
    EXPECT_TRUE(settlesAt("/proc/self/task", threads))
        << entries("/proc/self/task") << " threads, " << threads << " before";
}

}  // namespace
}  // namespace norvale::quillmark
