#include "server/test/TestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/socket/SocketTestSupport.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/test/SelfTestSupport.h"

namespace {

using net::socket::test_support::LoopbackFactories;
using net::socket::test_support::ScratchDir;
using norvale::quillmark::test::TestClient;
using norvale::quillmark::test::support::StandInServer;

// An echo server answering "<number of the request>:<request>" on a port the system picks.
class TestClientTest : public ::testing::Test {
protected:
    void startServer() {
        _server = std::make_unique<StandInServer>([this](const std::string& request) {
            return std::to_string(++_requests) + ":" + request;
        });
    }

    // A port on which nothing listens: the system picked it a moment ago for a socket that is
    // closed again.
    std::uint16_t closedPort() {
        auto server = _sockets.servers.create(0, 1);
        const std::uint16_t port = server->localPort();
        server->close();
        return port;
    }

    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    LoopbackFactories _sockets;
    std::atomic<int> _requests{0};
    std::unique_ptr<StandInServer> _server;
};

TEST_F(TestClientTest, SendsAllBytesEndsTheRequestAndReadsTheWholeAnswer) {
    startServer();
    // Far beyond the reserved answer size and any single receive, with every byte value.
    std::string data;
    for (int i = 0; i < 300000; ++i) data += static_cast<char>(i * 7);
    TestClient client(&_threads, &_sockets.clients, "localhost", _server->port(), data);
    client.start();
    client.join();
    ASSERT_EQ(data.size() + 2, client.response().size());
    EXPECT_TRUE(client.response() == "1:" + data);
    // A new exchange replaces the answer.
    client.run();
    EXPECT_EQ(data.size() + 2, client.response().size());
    EXPECT_TRUE(client.response() == "2:" + data);
}

// Tolerated, a failed connect leaves an empty answer; by default it is a failed check.
TEST_F(TestClientTest, ConnectFailureIsToleratedOnlyWhenAsked) {
    const std::uint16_t port = closedPort();
    TestClient tolerant(&_threads, &_sockets.clients, "127.0.0.1", port, "request", false);
    tolerant.start();
    tolerant.join();
    EXPECT_EQ("", tolerant.response());

    ScratchDir scratch("testclient");
    EXPECT_DEATH(
        {
            scratch.enterForDeath();
            TestClient client(&_threads, &_sockets.clients, "127.0.0.1", port, "request");
            client.run();
        },
        "");
    const std::string report = scratch.assertionReport();
    EXPECT_NE(std::string::npos, report.find("Message: !_assertOnIOException\n")) << report;
    EXPECT_NE(std::string::npos, report.find("Description: ")) << report;
}

}  // namespace
