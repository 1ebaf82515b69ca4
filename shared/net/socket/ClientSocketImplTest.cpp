#include "net/socket/ClientSocketImpl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "testing/MessageOf.h"

namespace {

using namespace net::socket;
using norvale::quillmark::testing::messageOf;

// The client's console shows these texts; a failed connect leaves the socket unconnected, so it
// may try again.
TEST(ClientSocketImplTest, FailedConnectsNameTheTargetAndMayBeRetried) {
    test_support::LoopbackPair pair;
    const std::uint16_t port = pair.servers.create(0, 1)->localPort();  // closed again: unused
    auto client = pair.clients.create();
    EXPECT_EQ("Error connecting socket.\nFailed using the 'connect' system call.\n"
              "Trying to connect to 127.0.0.1:" + std::to_string(port) +
                  ".\nDetailed information:\nHost: \nPort: 0\nSocketStream: 0\n"
                  "System error message: Connection refused. Error code: " +
                  std::to_string(ECONNREFUSED) + ".",
              messageOf<ConnectException>([&] { client->connect("127.0.0.1", port); }));
    EXPECT_NE(nullptr, client->connect("127.0.0.1", pair.server->localPort()));

    // The lookup's own code is negative; its description comes from the socket error table.
    const std::string message =
        messageOf<ConnectException>([&] { pair.clients.create()->connect("no-such-host.invalid", 80); });
    EXPECT_EQ(0u, message.find("Error converting hostname no-such-host.invalid to an IP address.\n"
                               "Failed using the 'gethostbyname' system call.\n"))
        << message;
    EXPECT_EQ(std::string::npos, message.find("Error message not found.")) << message;
}

}  // namespace
