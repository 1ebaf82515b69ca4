#include "server/test/TestCaseClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/socket/SocketTestSupport.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/RecordingLog.h"
#include "server/test/SelfTestSupport.h"
#include "server/test/SystemTest.h"

namespace {

using net::socket::test_support::LoopbackFactories;
using net::socket::test_support::ScratchDir;
using norvale::quillmark::test::SystemTest;
using norvale::quillmark::test::TestCaseClient;
using norvale::quillmark::test::support::FakeQuillmark;
using norvale::quillmark::test::support::StandInServer;
using norvale::quillmark::test::support::Fault;
using norvale::quillmark::testing::RecordingLog;
using norvale::quillmark::test::support::schemaFolder;

// Requests one client sends per protocol version: 4 bad requests, 5 on the shared classifiers,
// 3 functional ones and 6 further bad requests.
constexpr int RequestsPerVersion = 18;

// The stand-in server, serving on a port the system picks until the object goes.
class FakeServer {
public:
    explicit FakeServer(Fault fault = Fault::None)
        : quillmark(fault),
          _server([this](const std::string& request) { return quillmark.answer(request); }) {}

    std::uint16_t port() const { return _server.port(); }
    const platform::thread::ThreadFactory* threads() { return &_server.threads; }

    LoopbackFactories sockets;
    FakeQuillmark quillmark;

private:
    StandInServer _server;
};

TEST(TestCaseClientTest, RunsEveryCaseForBothVersionsAgainstAServerThatAnswersRight) {
    FakeServer server;
    TestCaseClient client(server.threads(), &server.sockets.clients, server.port(), schemaFolder());
    client.start();
    client.join();
    EXPECT_EQ(2 * RequestsPerVersion, server.quillmark.requests());
    EXPECT_TRUE(server.quillmark.exists("test_engswe"));
    EXPECT_FALSE(server.quillmark.exists("stresstest_cls1"));
    EXPECT_FALSE(server.quillmark.exists("stresstest_cls2"));
}

TEST(SystemTestTest, RunsTheFourTestsInOrderAndCountsThem) {
    FakeServer server;
    RecordingLog log;
    SystemTest tests(&log, server.port(), server.threads(), schemaFolder());
    EXPECT_EQ(4, tests.run());
    const std::vector<std::string> expected = {
        "Test: Testing connecting a client and not sending any data...",
        "Test: Testing connecting a client and sending some random data...",
        "Test: Testing connecting a client and running xml test cases...",
        "Test: Testing connecting multiple client and running xml testcases...",
    };
    EXPECT_EQ(expected, log.entries());
    // Two single connections, then one client and fifteen at once running every case.
    EXPECT_EQ(2 + 16 * 2 * RequestsPerVersion, server.quillmark.requests());
    EXPECT_FALSE(server.quillmark.exists("stresstest_cls1"));
    EXPECT_FALSE(server.quillmark.exists("stresstest_cls2"));
}

// One wrong answer of the server and the check that must catch it.
struct WrongAnswer {
    const char* name;
    Fault fault;
    const char* expression;
};

class TestCaseClientDeathTest : public ::testing::TestWithParam<WrongAnswer> {};

TEST_P(TestCaseClientDeathTest, AWrongAnswerEndsTheRunWithTheCheckThatFailed) {
    ScratchDir scratch("testcases");
    EXPECT_DEATH(
        {
            scratch.enterForDeath();
            FakeServer server(GetParam().fault);
            TestCaseClient client(server.threads(), &server.sockets.clients, server.port(),
                                  schemaFolder());
            client.start();
            client.join();
        },
        "");
    const std::string report = scratch.assertionReport();
    EXPECT_NE(std::string::npos,
              report.find(std::string("Message: ") + GetParam().expression + "\n"))
        << report;
    EXPECT_NE(std::string::npos, report.find("Description: ")) << report;
    // Exactly one report: the first failed check ends the process.
    EXPECT_EQ(report.find("Assertion failed."), report.rfind("Assertion failed."));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, TestCaseClientDeathTest,
    ::testing::Values(
        WrongAnswer{"SuccessFlagOnErrors", Fault::SuccessFlagOnErrors, "!r.success"},
        WrongAnswer{"ServerErrorForInvalid", Fault::ServerErrorForInvalid,
                    "r.code == statusCode::BAD_REQUEST"},
        WrongAnswer{"EmptyErrorMessage", Fault::EmptyErrorMessage, "!r.errorMessage.empty()"},
        WrongAnswer{"NotFoundOtherWording", Fault::NotFoundOtherWording,
                    "r.errorMessage.find(\"could not be found\") != string::npos"},
        WrongAnswer{"NotFoundWithoutName", Fault::NotFoundWithoutName,
                    "r.errorMessage.find(\"classifierName\") != string::npos"},
        WrongAnswer{"WrongSuccessVersion", Fault::WrongSuccessVersion, "r.version == version"},
        WrongAnswer{"RefuseReads", Fault::RefuseReads, "r.success"},
        WrongAnswer{"DropSecondReadResult", Fault::DropSecondReadResult, "r.responses.size() == 2"},
        WrongAnswer{"RepeatFirstReadResult", Fault::RepeatFirstReadResult,
                    "r.responses.size() == 1"},
        WrongAnswer{"OddSuccessCode", Fault::OddSuccessCode, "r.code == statusCode::OK"},
        WrongAnswer{"NoAnswer", Fault::NoAnswer, "false"}),
    [](const ::testing::TestParamInfo<WrongAnswer>& info) { return info.param.name; });

TEST(SystemTestDeathTest, AnUnreachableServerEndsTheFirstTest) {
    ScratchDir scratch("systemtest");
    LoopbackFactories sockets;
    auto listener = sockets.servers.create(0, 1);
    const std::uint16_t port = listener->localPort();
    listener->close();
    EXPECT_DEATH(
        {
            scratch.enterForDeath();
            platform::thread::OsInfoImpl os;
            platform::thread::ThreadFactoryImpl threads(&os);
            RecordingLog log;
            SystemTest(&log, port, &threads, schemaFolder()).run();
        },
        "");
    EXPECT_NE(std::string::npos,
              scratch.assertionReport().find("Message: !_assertOnIOException\n"));
}

}  // namespace
