// The client road: every accepted client a ClassifyConnection on the event server, over request
// executors the test scripts: what each connection logs and answers, the input limit, failures
// around process, the allowed networks, the bound on open connections, which threads run
// requests and whether a long one holds up others, and hostile clients against few workers and
// short deadlines. That a stop does not wait on hostile clients, QuillmarkServerTest shows on the
// whole process.
#include "server/ClassifyConnection.h"

#include <poll.h>
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
#include <set>
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
#include "testing/Eventually.h"
#include "testing/LoopbackClient.h"
#include "testing/MessageOf.h"
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
                  std::size_t maxConnections = 0, const net::server::EventServerAccess& access = {},
                  std::size_t heldAnswerBytes = 0)
        : _server(&_threads, 0, {maxClients, 1024, maxConnections, heldAnswerBytes}, params,
                  access) {
        _server.start();
    }
    ~RunningServer() { _server.stop(); }
    std::uint16_t port() const { return _server.localPort(); }

private:
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    ClassifyServer _server;
};

// "processed <size> <FNV-1a digest>", so that a large request is known to have arrived whole.
std::string expectedAnswer(const std::string& request) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : request) hash = (hash ^ c) * 1099511628211ull;
    return "processed " + std::to_string(request.size()) + " " + std::to_string(hash);
}

// Answers expectedAnswer, "large" with 6 MiB, "thread" with its thread, and "slow" once released
// (or after 20 s); a few request texts make it fail in a chosen way.
class FakeClassifierFactory : public StringClassifierFactory {
    struct Fake : StringClassifier {
        explicit Fake(const std::atomic<bool>* released) : released(released) {}
        std::string process(std::string request) override {
            if (request == "slow") testing::eventually([&] { return released->load(); }, 20s, 5ms);
            if (request == "exception") throw exceptions::Exception("The classifier failed.");
            if (request == "com") throw xml::ComInitializerException("No XML library.");
            if (request == "socket") throw net::socket::ReadException("The socket failed.");
            if (request == "memory") throw std::bad_alloc();
            if (request == "thread") {
                return std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()));
            }
            return request == "large" ? std::string(6 << 20, 'x') : expectedAnswer(request);
        }
        const std::atomic<bool>* released;
    };

public:
    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Fake>(&_released);
    }
    void release() { _released = true; }

private:
    std::atomic<bool> _released{false};
};

// The entries of a /proc folder, given up to 20 s to come down to `atMost` (an ended thread can
// stay listed a moment after its join).
std::size_t entries(const char* folder, std::size_t atMost = SIZE_MAX) {
    for (const auto giveUp = Clock::now() + 20s;; std::this_thread::sleep_for(10ms)) {
        const auto count = static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
        if (count <= atMost || Clock::now() > giveUp) return count;
    }
}

// How the server ended the connection, reading what it sent on the way (an answer still under
// way ends once it is read): 0 for an orderly end, the error a read met (a reset), or -1 when
// it stays open for five seconds.
int endOf(int fd) {
    char buffer[65536];
    for (const auto giveUp = Clock::now() + 5s;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n == 0) return 0;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return errno;
        pollfd entry{fd, POLLIN, 0};
        if (Clock::now() > giveUp || ::poll(&entry, 1, 100) == 0) return -1;
    }
}

class ClassifyConnectionTest : public ::testing::Test {
protected:
    std::string errorDocument(int code, const std::string& message) {
        return _errors.create()->getErrorResponse(code, message);
    }
    bool finished(std::uint32_t id) {
        return _log.waitFor("Log: Finished connection with id " + std::to_string(id));
    }
    // The lines logged at `level` ("Log", "Error") that match `pattern`, summing the number
    // each one's first group holds when `sum` is set.
    int matching(const std::string& level, const std::string& pattern, bool sum = false) {
        const std::regex expression(pattern);
        int count = 0;
        std::smatch match;
        for (const std::string& text : _log.texts(level)) {
            if (std::regex_search(text, match, expression)) count += sum ? std::stoi(match[1]) : 1;
        }
        return count;
    }

    testing::RecordingLog _log;
    FakeClassifierFactory _classifiers;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test", "1.00"};
    Metrics _metrics;
    ConnectionParams _params{.maxInput = widenMaxInput(1 << 20),
                             .log = &_log,
                             .metrics = &_metrics,
                             .classifierFactory = &_classifiers,
                             .errorResponseFactory = &_errors};
};

// The workers are threads made at start: a count outside 1 to 4096 (a negative setting arrives
// as a huge one) ends start-up instead of taking the machine's memory and threads. A listen
// address that is not this machine's is refused by the bind, not mistaken for a busy port by
// connecting to whoever answers there.
TEST_F(ClassifyConnectionTest, SettingsThatCannotServeEndStartup) {
    for (const std::uint32_t workers : {0u, 4097u, 4294967295u}) {
        EXPECT_EQ("The maximum number of clients must be between 1 and 4096.",
                  testing::messageOf<net::socket::PreconditionException>(
                      [&] { const RunningServer server(&_params, workers); }))
            << workers;
    }
    EXPECT_EQ(
        "Could not bind the socket. Failed using the bind system call. Cannot assign "
        "requested address",
        testing::messageOf<net::socket::SocketException>([&] {
            net::server::EventServer server(nullptr, 27182, {}, nullptr, nullptr,
                                            {"10.255.255.1", {}});
        }));
}

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
    const std::vector<std::string> failures = {
        "An Exception when running a connection with id 1.The classifier failed.",
        "An ComInitializerException occured when running a connection with id 2. No XML library.",
        "An SocketException when running a connection with id 3. The socket failed.",
        "Out of memory."};
    EXPECT_EQ(errorDocument(statusCode::SERVER_ERROR, failures[0]),
              LoopbackClient::ask(port, "exception"));
    EXPECT_EQ(errorDocument(statusCode::SERVER_ERROR, failures[1]),
              LoopbackClient::ask(port, "com"));
    EXPECT_EQ("", LoopbackClient::ask(port, "socket"));
    EXPECT_EQ(errorDocument(statusCode::OUT_OF_MEMORY, ""), LoopbackClient::ask(port, "memory"));
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
    LoopbackClient outside(port, 0, 0x7f000002);
    ASSERT_TRUE(outside.connected());
    outside.send("hello");  // may meet the close already
    EXPECT_LE(0, endOf(outside.fd()));
    EXPECT_TRUE(
        _log.waitFor("Log: Refused 1 connections from clients outside the allowed networks."));

    LoopbackClient first(port), second(port);
    ASSERT_TRUE(_log.waitFor("Log: Running connection 8."));
    for (int i = 0; i < 5; ++i) {
        LoopbackClient refused(port);
        ASSERT_TRUE(refused.readable(5s));
        EXPECT_EQ("", refused.answer());
    }
    first.abort();
    second.abort();
    ASSERT_TRUE(finished(7) && finished(8));
    EXPECT_EQ(expectedAnswer("welcome"), LoopbackClient::ask(port, "welcome"));
    const std::string refusal =
        "^Refused ([0-9]+) connections: the limit of 2 open connections was reached\\.$";
    testing::eventually([&] { return matching("Log", refusal, true) >= 5; }, 10s, 50ms);
    EXPECT_EQ(5, matching("Log", refusal, true));
    ASSERT_TRUE(finished(9));
    EXPECT_EQ(0, matching("Log", "^Creating connection with id 10"));
    EXPECT_EQ(6, matching("Log", "^Received a request "));  // logged as each reaches process
    // The two connections that went with a reset come last.
    std::vector<std::string> errors = _log.texts("Error");
    ASSERT_EQ(6u, errors.size());
    errors.resize(4);
    EXPECT_EQ(failures, errors);

    // More than the socket takes at once: the rest follows from where the first write ended.
    const std::string large = LoopbackClient::ask(port, "large");
    EXPECT_TRUE(large == std::string(6 << 20, 'x')) << large.size() << " bytes";
}

// The requests being read share one bound: a request alone is read whatever its size; past the
// bound a further one is drained and refused with 5030 once its client ends; the bytes come back
// when a request has been executed or its client has gone.
TEST_F(ClassifyConnectionTest, RequestsPastTheirSharedBoundAreRefused) {
    HeldRequests held(1000);
    _params.heldRequests = &held;
    const RunningServer server(&_params, 2);
    const std::uint16_t port = server.port();
    const auto holds = [&](std::size_t bytes) {
        return testing::eventually([&] { return held.held() == bytes; }, 10s, 2ms);
    };
    const std::string alone(3000, 'a'), holding(900, 'h'), small(200, 's');
    EXPECT_EQ(expectedAnswer(alone), LoopbackClient::ask(port, alone));
    LoopbackClient holder(port);
    ASSERT_TRUE(holder.send(holding) && holds(900));
    const std::string refusal =
        "Client with id 3 was refused: the requests held by the server "
        "had reached the bound of 1000 bytes.";
    EXPECT_EQ(errorDocument(statusCode::OUT_OF_MEMORY, refusal), LoopbackClient::ask(port, small));
    EXPECT_EQ(1, matching("Log", "^" + refusal + "$"));
    ASSERT_TRUE(holder.finish());
    EXPECT_EQ(expectedAnswer(holding), holder.answer());
    EXPECT_TRUE(holds(0));
    LoopbackClient gone(port);
    ASSERT_TRUE(gone.send(holding) && holds(900));
    gone.abort();
    EXPECT_TRUE(holds(0));
    EXPECT_EQ(expectedAnswer(small), LoopbackClient::ask(port, small));
}

// A request runs on the thread that read it, and the reactor goes to the thread that fell idle
// last: one client's requests one after the other, and two clients' at once, stay on a few of
// the seventeen threads (the longest idle first would take them round all seventeen). A thread
// that the machine holds up may let a request go to one more.
TEST_F(ClassifyConnectionTest, RequestsStayOnFewThreads) {
    const RunningServer server(&_params, 16);
    std::set<std::string> alone;
    for (int i = 0; i < 8; ++i) {
        alone.insert(LoopbackClient::ask(server.port(), "thread"));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LE(alone.size(), 2u);
    std::vector<std::string> answers(2 * 40);
    {
        std::vector<std::jthread> clients;
        for (std::size_t c = 0; c < 2; ++c) {
            clients.emplace_back([&, c] {
                for (std::size_t i = c; i < answers.size(); i += 2) {
                    answers[i] = LoopbackClient::ask(server.port(), "thread");
                }
            });
        }
    }
    EXPECT_LE(std::set<std::string>(answers.begin(), answers.end()).size(), 8u);
}

// The thread that runs a lone client's request leaves the reactor to a watching thread, which
// takes it within a few milliseconds: a newcomer is answered while that request still runs, in
// far less than the second after which a watching thread would stop watching.
TEST_F(ClassifyConnectionTest, ALoneLongRequestLeavesNewcomersServed) {
    const RunningServer server(&_params, 2);
    std::atomic<bool> slowAnswered{false};
    std::jthread slow([&] {
        EXPECT_EQ(expectedAnswer("slow"), LoopbackClient::ask(server.port(), "slow"));
        slowAnswered = true;
    });
    ASSERT_TRUE(_log.waitFor("Log: Received a request from client with id 1 with the size of 4."));
    const auto asked = Clock::now();
    EXPECT_EQ(expectedAnswer("quick"), LoopbackClient::ask(server.port(), "quick"));
    EXPECT_LT(Clock::now() - asked, 500ms);
    EXPECT_FALSE(slowAnswered);
    _classifiers.release();
}

// Against few workers and short deadlines, clients that never read their large answer, idle
// ones and ones trickling their request: a well-behaved client is served at once all the same,
// each hostile one is dropped at its deadline, and afterwards every thread and descriptor is back.
// Answers not read are held up to a bound of eight of them: the rest are dropped at once.
TEST_F(ClassifyConnectionTest, HostileClientsNeitherDelayOthersNorOutliveTheirDeadlines) {
    // Sanitizer builds run several times slower: their deadlines and bounds are stretched alike.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int Slowdown = 3;
#else
    constexpr int Slowdown = 1;
#endif
    _params.idleTimeout = std::chrono::milliseconds(2500 * Slowdown);
    _params.requestTimeout = _params.sendTimeout = std::chrono::milliseconds(3500 * Slowdown);
    constexpr int NeverReading = 32, Held = 8, Idle = 200, Trickling = 50;
    // Runtimes that add a helper thread at the first thread start (ThreadSanitizer does) have
    // done so before the baseline is taken.
    std::thread([] {}).join();
    const std::size_t descriptors = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    const std::string sendDeadline = "^The client with id [0-9]+ did not read its answer within " +
                                     std::to_string(_params.sendTimeout.count()) +
                                     " milliseconds; the connection was dropped\\.$";
    Clients neverReading, idle, trickling;
    {
        const RunningServer server(&_params, 8, 0, {}, Held * (6 << 20));
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
        // One byte a second from each trickling client, on a thread of its own: no wait of the
        // test (slow under sanitizers) may leave a gap that the idle deadline takes for silence.
        const std::jthread trickler([&](const std::stop_token& stop) {
            for (int tick = 1; !stop.stop_requested(); ++tick) {
                std::this_thread::sleep_for(100ms);
                if (tick % 10 != 0) continue;
                for (const auto& client : trickling) {
                    ::send(client->fd(), "<", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
        });
        // All of them accepted and every large answer under way.
        ASSERT_TRUE(_log.waitFor("Log: Running connection " +
                                 std::to_string(NeverReading + Idle + Trickling) + "."));
        ASSERT_TRUE(testing::eventually(
            [&] { return matching("Log", "^Received a request") >= NeverReading; }));

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
            allClosed = matching("Log", sendDeadline) == Held;
            for (const auto* group : {&idle, &trickling}) {
                for (const auto& client : *group) allClosed &= endOf(client->fd()) >= 0;
            }
        }
        EXPECT_TRUE(allClosed);
        // Their answers were cut off: reading one ends in a reset, not in an end that passes
        // for a whole answer.
        for (const auto& client : neverReading) EXPECT_EQ(ECONNRESET, endOf(client->fd()));
    }
    EXPECT_EQ(Idle,
              matching("Error", "sent nothing for " + std::to_string(_params.idleTimeout.count()) +
                                    " milliseconds\\.$"));
    EXPECT_EQ(Trickling, matching("Error", "did not finish sending its request within " +
                                               std::to_string(_params.requestTimeout.count()) +
                                               " milliseconds of connecting\\.$"));
    EXPECT_EQ(NeverReading - Held,
              matching("Log",
                       "^Dropped ([0-9]+) answers: the answers waiting for their clients to read "
                       "them had reached the bound of " +
                           std::to_string(Held * (6 << 20)) + " bytes\\.$",
                       true));
    neverReading.clear();
    idle.clear();
    trickling.clear();
    EXPECT_EQ(descriptors, entries("/proc/self/fd", descriptors));
    EXPECT_EQ(threads, entries("/proc/self/task", threads));
}

}  // namespace
}  // namespace norvale::quillmark
