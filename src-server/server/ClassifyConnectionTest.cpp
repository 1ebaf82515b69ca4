#include "server/ClassifyConnection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "exceptions/Exception.h"
#include "net/socket/SocketExceptions.h"
#include "server/ConnectionTestSupport.h"
#include "server/StatusCode.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;

// FNV-1a, so that a large request is known to have arrived whole and in order.
std::uint64_t digest(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// Larger than what the kernel buffers on both ends of a loopback connection.
constexpr std::size_t LargeAnswer = 8 << 20;

std::string expectedAnswer(const std::string& request) {
    return "processed " + std::to_string(request.size()) + " " + std::to_string(digest(request));
}

// Answers "processed <size> <digest>"; a few request texts make it fail in a chosen way, and
// "hold" makes it wait until the test opens the gate.
class FakeClassifierFactory : public StringClassifierFactory {
public:
    std::unique_ptr<StringClassifier> create() const override {
        ++created;
        return std::make_unique<Fake>(this);
    }

    void openGate() { _gate.open(); }
    bool waitForHolders(int n) { return _gate.waitForHolders(n); }

    mutable std::atomic<int> created{0};
    mutable std::atomic<int> processed{0};

private:
    class Fake : public StringClassifier {
    public:
        explicit Fake(const FakeClassifierFactory* factory) : _factory(factory) {}
        std::string process(const std::string& request) override {
            ++_factory->processed;
            if (request == "hold") _factory->_gate.hold();
            if (request == "exception") throw exceptions::Exception("The classifier failed.");
            if (request == "com") throw xml::ComInitializerException("No XML library.");
            if (request == "socket") throw net::socket::ReadException("The socket failed.");
            if (request == "memory") throw std::bad_alloc();
            if (request == "large") return std::string(LargeAnswer, 'L');
            return expectedAnswer(request);
        }

    private:
        const FakeClassifierFactory* _factory;
    };

    Gate _gate;
};

class ClassifyConnectionTest : public ::testing::Test {
protected:
    ClassifyConnectionTest() {
        _params.maxInput = widenMaxInput(1 << 20);
        _params.log = &_log;
        _params.classifierFactory = &_classifiers;
        _params.errorResponseFactory = &_errors;
    }

    // Starts the server with the params as the test has set them.
    std::uint16_t serve(std::uint32_t maxClients = 8, std::size_t maxConnections = 0) {
        _server = std::make_unique<RunningServer>(&_params, maxClients, maxConnections);
        return _server->port();
    }

    std::string errorDocument(int code, const std::string& message) {
        return _errors.create()->getErrorResponse(code, message);
    }

    // The lines that name connection id, in the order they were written.
    std::vector<LogLine> linesOf(std::uint32_t id) {
        const std::regex naming("(id|connection) " + std::to_string(id) + "([^0-9]|$)");
        std::vector<LogLine> found;
        for (const LogLine& line : _log.lines()) {
            if (std::regex_search(line.text, naming)) found.push_back(line);
        }
        return found;
    }
    bool finished(std::uint32_t id) {
        return _log.waitFor({"Log", "Finished connection with id " + std::to_string(id)});
    }
    std::vector<LogLine> errors() {
        std::vector<LogLine> found;
        for (const LogLine& line : _log.lines()) {
            if (line.level != "Log") found.push_back(line);
        }
        return found;
    }

    RecordingLog _log;
    FakeClassifierFactory _classifiers;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test", "1.00"};
    ConnectionParams _params;
    std::unique_ptr<RunningServer> _server;
};

TEST(ConnectionParamsTest, NegativeInputLimitWidensToOneNoRequestReaches) {
    EXPECT_EQ(0u, widenMaxInput(0));
    EXPECT_EQ(2147483647u, widenMaxInput(2147483647));
    EXPECT_EQ(UINT64_MAX, widenMaxInput(-1));
    EXPECT_EQ(UINT64_MAX - 2147483647u, widenMaxInput(-2147483647 - 1));
}

TEST_F(ClassifyConnectionTest, EachRequestIsAnsweredAndLoggedUnderItsOwnId) {
    const std::uint16_t port = serve();
    RawClient empty(port);
    ASSERT_TRUE(empty.finish());
    EXPECT_EQ(expectedAnswer(""), empty.answer());
    ASSERT_TRUE(finished(1));

    RawClient second(port);
    ASSERT_TRUE(second.request("classify this"));
    EXPECT_EQ(expectedAnswer("classify this"), second.answer());
    ASSERT_TRUE(finished(2));

    EXPECT_EQ((std::vector<LogLine>{
                  {"Log", "Creating connection with id 1"},
                  {"Log", "Running connection 1."},
                  {"Log", "Received a request from client with id 1 with the size of 0."},
                  {"Log", "Finished connection with id 1"},
              }),
              linesOf(1));
    EXPECT_TRUE(
        _log.contains({"Log", "Received a request from client with id 2 with the size of 13."}));
    EXPECT_EQ(2, _classifiers.created.load());
    EXPECT_TRUE(errors().empty());
}

// The limit spans several of the server's 16384-byte reads, so the last one crosses it.
TEST_F(ClassifyConnectionTest, ExactlyMaxInputIsServedOneByteMoreIsRefusedOnceTheClientEnds) {
    _params.maxInput = 3 * 16384 + 100;
    const std::uint16_t port = serve();
    std::string request;
    for (std::uint64_t i = 0; i < _params.maxInput; ++i) request += static_cast<char>('a' + i % 23);

    RawClient exact(port);
    ASSERT_TRUE(exact.request(request));
    EXPECT_EQ(expectedAnswer(request), exact.answer());

    RawClient over(port);
    ASSERT_TRUE(over.send(request + "x"));
    const std::string message = "Client with id 2 exceeded maximum input size 49252.";
    ASSERT_TRUE(_log.waitFor({"Log", message}));
    // Still sending, far past the limit: the server reads and drops, and answers nothing yet.
    ASSERT_TRUE(over.send(std::string(200000, 'y')));
    EXPECT_FALSE(over.readable(300ms));
    ASSERT_TRUE(over.finish());
    EXPECT_EQ(errorDocument(statusCode::REQUEST_TOO_LARGE, message), over.answer());
    EXPECT_FALSE(over.wasReset());

    ASSERT_TRUE(finished(2));
    EXPECT_EQ(1, _classifiers.processed.load());  // the refused request never reached it
    const std::vector<LogLine> refused = linesOf(2);
    EXPECT_TRUE(std::none_of(refused.begin(), refused.end(), [](const LogLine& line) {
        return line.text.starts_with("Received a request");
    }));
    EXPECT_TRUE(errors().empty());
}

TEST_F(ClassifyConnectionTest, ZeroLimitServesOnlyTheEmptyRequest) {
    _params.maxInput = 0;
    const std::uint16_t port = serve();
    RawClient empty(port);
    ASSERT_TRUE(empty.finish());
    EXPECT_EQ(expectedAnswer(""), empty.answer());
    RawClient one(port);
    ASSERT_TRUE(one.request("z"));
    EXPECT_EQ(errorDocument(statusCode::REQUEST_TOO_LARGE,
                            "Client with id 2 exceeded maximum input size 0."),
              one.answer());
}

// A reset while the request arrives fails the read, a reset before the answer fails the send;
// both are logged, answered with nothing, and a client served meanwhile is not disturbed.
TEST_F(ClassifyConnectionTest, ClientThatLeavesEarlyIsLoggedAndDoesNotDisturbOthers) {
    const std::uint16_t port = serve();
    RawClient leaving(port);
    ASSERT_TRUE(leaving.request("hold"));
    ASSERT_TRUE(_classifiers.waitForHolders(1));
    leaving.abort();

    RawClient halfway(port);
    ASSERT_TRUE(halfway.send("<quillmark"));
    ASSERT_TRUE(_log.waitFor({"Log", "Running connection 2."}));
    halfway.abort();

    RawClient other(port);
    ASSERT_TRUE(other.request("meanwhile"));
    EXPECT_EQ(expectedAnswer("meanwhile"), other.answer());
    _classifiers.openGate();

    ASSERT_TRUE(finished(1));
    ASSERT_TRUE(finished(2));
    const std::vector<LogLine> failures = errors();
    ASSERT_EQ(2u, failures.size());
    for (const LogLine& line : failures) {
        EXPECT_EQ("Error", line.level);
        EXPECT_TRUE(line.text.starts_with(
                        "An SocketException when running a connection with id 1. Could not "
                        "write data on the socket. Failed using the send system call. ") ||
                    line.text.starts_with(
                        "An SocketException when running a connection with id 2. Error reading "
                        "data from the socket. Failed using the 'recv' system call. "))
            << line.text;
    }
    EXPECT_NE(failures[0].text.substr(0, 60), failures[1].text.substr(0, 60));

    RawClient after(port);
    ASSERT_TRUE(after.request("after"));
    EXPECT_EQ(expectedAnswer("after"), after.answer());
}

TEST_F(ClassifyConnectionTest, FailuresAroundProcessAreLoggedAndAnsweredByKind) {
    const std::uint16_t port = serve();
    const auto ask = [&](const std::string& request) {
        RawClient client(port);
        EXPECT_TRUE(client.request(request));
        return client.answer();
    };

    const std::string exception =
        "An Exception when running a connection with id 1.The classifier failed.";
    EXPECT_EQ(errorDocument(statusCode::SERVER_ERROR, exception), ask("exception"));
    const std::string com =
        "An ComInitializerException occured when running a connection with id 2. No XML library.";
    EXPECT_EQ(errorDocument(statusCode::SERVER_ERROR, com), ask("com"));
    EXPECT_EQ("", ask("socket"));
    EXPECT_EQ(errorDocument(statusCode::OUT_OF_MEMORY, ""), ask("memory"));

    ASSERT_TRUE(finished(4));
    EXPECT_EQ((std::vector<LogLine>{
                  {"Error", exception},
                  {"Error", com},
                  {"Error",
                   "An SocketException when running a connection with id 3. The socket failed."},
                  {"Error", "Out of memory."},
              }),
              errors());
}

TEST_F(ClassifyConnectionTest, SilentClientIsDroppedWhenIdle) {
    _params.idleTimeout = 300ms;
    const std::uint16_t port = serve();
    RawClient silent(port);
    ASSERT_TRUE(silent.send("<quill"));
    EXPECT_EQ("", silent.answer());
    ASSERT_TRUE(finished(1));
    EXPECT_EQ((std::vector<LogLine>{{"Error",
                                     "An SocketException when running a connection with id 1. "
                                     "The client with id 1 sent nothing for 300 milliseconds."}}),
              errors());
    EXPECT_EQ(0, _classifiers.processed.load());
}

// A client that keeps sending a byte now and then is never idle, but its request has a deadline
// counted from the connect.
TEST_F(ClassifyConnectionTest, TricklingClientIsDroppedAtTheRequestDeadline) {
    _params.idleTimeout = 5s;
    _params.requestTimeout = 700ms;
    const std::uint16_t port = serve();
    RawClient slow(port);
    const std::string expected =
        "An SocketException when running a connection with id 1. The client with id 1 did not "
        "finish sending its request within 700 milliseconds of connecting.";
    const auto start = std::chrono::steady_clock::now();
    while (!_log.contains({"Error", expected}) && std::chrono::steady_clock::now() - start < 10s) {
        if (!slow.send("x")) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(_log.waitFor({"Error", expected}));
    EXPECT_EQ("", slow.answer());
    ASSERT_TRUE(finished(1));
    EXPECT_EQ(0, _classifiers.processed.load());
}

TEST_F(ClassifyConnectionTest, StopEndsABlockedReadWithoutAnswering) {
    const std::uint16_t port = serve();
    RawClient waiting(port);
    ASSERT_TRUE(waiting.send("<quillmark"));
    ASSERT_TRUE(_log.waitFor({"Log", "Running connection 1."}));
    const auto start = std::chrono::steady_clock::now();
    _server->stop();
    // Far below the 30 s idle deadline: the stop itself ended the read.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(_log.contains({"Log", "Finished connection with id 1"}));
    EXPECT_EQ("", waiting.answer());
    EXPECT_EQ(0, _classifiers.processed.load());
    EXPECT_TRUE(errors().empty());
}

// Beyond the limit of open connections a client is accepted and closed at once; the refusals
// are counted in the log at most once a second.
TEST_F(ClassifyConnectionTest, ConnectionsBeyondTheLimitAreClosedAtOnceAndCounted) {
    const std::uint16_t port = serve(2, 2);
    RawClient first(port);
    RawClient second(port);
    ASSERT_TRUE(_log.waitFor({"Log", "Running connection 2."}));
    std::vector<std::unique_ptr<RawClient>> refused;
    for (int i = 0; i < 5; ++i) {
        refused.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(refused.back()->readable(5s));
        EXPECT_EQ("", refused.back()->answer());
    }
    first.abort();
    second.abort();
    ASSERT_TRUE(finished(2));
    RawClient served(port);
    ASSERT_TRUE(served.request("welcome"));
    EXPECT_EQ(expectedAnswer("welcome"), served.answer());

    const std::regex refusal(
        "Refused ([0-9]+) connections: the limit of 2 open connections was reached\\.");
    const auto start = std::chrono::steady_clock::now();
    int counted = 0;
    while (counted < 5 && std::chrono::steady_clock::now() - start < 10s) {
        counted = 0;
        for (const LogLine& line : _log.lines()) {
            std::smatch count;
            if (std::regex_match(line.text, count, refusal)) counted += std::stoi(count[1]);
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(5, counted);
    EXPECT_TRUE(_log.contains({"Log", "Creating connection with id 3"}));
    EXPECT_FALSE(_log.contains({"Log", "Creating connection with id 4"}));
}

// A client that never reads a large answer is dropped at the send deadline with one line.
TEST_F(ClassifyConnectionTest, ClientThatDoesNotReadItsAnswerIsDroppedAtTheSendDeadline) {
    _params.sendTimeout = 500ms;
    const std::uint16_t port = serve();
    const int small = 4096;
    RawClient lazy(port, small);
    ASSERT_TRUE(lazy.request("large"));
    const std::string expected = "The client with id 1 did not read its answer within 500 "
                                 "milliseconds; the connection was dropped.";
    ASSERT_TRUE(_log.waitFor({"Log", expected}));
    ASSERT_TRUE(finished(1));
    EXPECT_LT(lazy.answer().size(), std::size_t(LargeAnswer));
    EXPECT_TRUE(errors().empty());
}

TEST_F(ClassifyConnectionTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
    const std::uint16_t port = serve(4);
    constexpr int Clients = 16;
    std::vector<std::string> answers(Clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&, i] {
            RawClient client(port);
            const std::string request(1000 + 7919 * i, static_cast<char>('A' + i));
            if (!client.request(request)) return;
            answers[i] = client.answer() == expectedAnswer(request) ? "ok" : "wrong";
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::vector<std::string>(Clients, "ok"), answers);
    for (std::uint32_t id = 1; id <= Clients; ++id) ASSERT_TRUE(finished(id));
    EXPECT_TRUE(errors().empty());
}

}  // namespace
}  // namespace norvale::quillmark
