#include "net/socket/ServerSocketImpl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <regex>
#include <string>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"

namespace {

using namespace net::socket;
using test_support::LoopbackFactories;
using namespace std::chrono_literals;

// The queue size is checked after bind and before listen: a busy port fails at bind first.
TEST(ServerSocketImplTest, QueueSizeAboveTheLimitFailsBetweenBindAndListen) {
    LoopbackFactories factories;
    auto busy = factories.servers.create(0, 2147483647u);
    EXPECT_THROW(factories.servers.create(busy->localPort(), 2147483648u), InitException);
    busy->close();
    EXPECT_THROW(factories.servers.create(busy->localPort(), 2147483648u), PreconditionException);
}

TEST(ServerSocketImplTest, BusyPortFailsAtBindWithTheServerDetail) {
    LoopbackFactories factories;
    auto first = factories.servers.create(0, 4);
    const std::uint16_t port = first->localPort();
    try {
        factories.servers.create(port, 5);
        FAIL() << "no exception";
    } catch (const InitException& e) {
        const std::regex expected(
            "Could not bind the socket\\. Failed using the bind system call\\. "
            "Detailed information:\nSocket id: [0-9]+\nPort: " +
            std::to_string(port) +
            "\nQueue: 5\nSystem error message: Address already in use\\. Error code: " +
            std::to_string(EADDRINUSE) + "\\.");
        EXPECT_TRUE(std::regex_match(std::string(e.what()), expected)) << e.what();
    }
}

// A close from another thread wakes a blocked accept; later accepts fail naming the port and
// queue, and a second close is harmless.
TEST(ServerSocketImplTest, CloseEndsAcceptingNowAndLater) {
    LoopbackFactories factories;
    auto server = factories.servers.create(0, 16);
    const std::uint16_t port = server->localPort();
    const auto acceptance = [&]() -> std::string {
        try {
            server->accept();
        } catch (const AcceptException& e) {
            return e.what();
        }
        return "accepted";
    };
    auto acceptor = std::async(std::launch::async, acceptance);
    EXPECT_EQ(std::future_status::timeout, acceptor.wait_for(100ms));
    server->close();
    ASSERT_EQ(std::future_status::ready, acceptor.wait_for(10s));
    EXPECT_EQ(0u, acceptor.get().find("Error accepting a connection. Failed using the accept "
                                      "system call. Detailed information:\nSocket id: "));
    server->close();
    EXPECT_EQ("Error accepting a connection. Failed using the accept system call. "
              "Detailed information:\nSocket id: -1\nPort: " +
                  std::to_string(port) +
                  "\nQueue: 16\nSystem error message: Bad file descriptor. Error code: " +
                  std::to_string(EBADF) + ".",
              acceptance());
}

class FailingStreamFactory : public SocketStreamFactory {
public:
    std::unique_ptr<SocketStream> create(int) override { throw GeneralException("no stream"); }
};

// The accepted descriptor is closed when no stream could take it, so the client sees the end.
TEST(ServerSocketImplTest, AcceptedSocketIsClosedWhenNoStreamCanBeMade) {
    LoopbackFactories factories;
    FailingStreamFactory failing;
    ServerSocketImpl server(&factories.errors, &failing, 0, 4);
    auto client = factories.clients.create();
    SocketStream* stream = client->connect("127.0.0.1", server.localPort());
    EXPECT_THROW(server.accept(), GeneralException);
    ASSERT_TRUE(stream->waitReadable(10000));
    char byte;
    EXPECT_EQ(0, stream->readSome(&byte, 1));
}

}  // namespace
