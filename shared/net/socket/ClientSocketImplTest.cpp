#include "net/socket/ClientSocketImpl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "platform/PlatformTestSupport.h"

namespace {

using namespace net::socket;
using test_support::LoopbackFactories;

// A port on which nothing listens: the system picked it a moment ago for a socket now closed.
std::uint16_t unusedPort(LoopbackFactories& factories) {
    return factories.servers.create(0, 1)->localPort();
}

TEST(ClientSocketImplTest, UnresolvableHostNamesTheLookupAndShowsTheClientDetail) {
    LoopbackFactories factories;
    auto client = factories.clients.create();
    try {
        client->connect("no-such-host.invalid", 80);
        FAIL() << "no exception";
    } catch (const ConnectException& e) {
        const std::string message = e.what();
        const std::string opening =
            "Error converting hostname no-such-host.invalid to an IP address.\n"
            "Failed using the 'gethostbyname' system call.\n"
            "Detailed information:\nHost: \nPort: 0\nSocketStream: 0\n"
            "System error message: ";
        EXPECT_EQ(opening, message.substr(0, opening.size())) << message;
        // The lookup's own code is negative; its description comes from the socket error table.
        EXPECT_TRUE(std::regex_search(message, std::regex("\\. Error code: -?[0-9]+\\.$")))
            << message;
        EXPECT_EQ(std::string::npos, message.find("Error message not found.")) << message;
    }
}

TEST(ClientSocketImplTest, RefusedConnectNamesTargetAndSystemText) {
    LoopbackFactories factories;
    const std::uint16_t port = unusedPort(factories);
    auto client = factories.clients.create();
    try {
        client->connect("127.0.0.1", port);
        FAIL() << "no exception";
    } catch (const ConnectException& e) {
        EXPECT_EQ(
            "Error connecting socket.\nFailed using the 'connect' system call.\n"
            "Trying to connect to 127.0.0.1:" +
                std::to_string(port) +
                ".\nDetailed information:\nHost: \nPort: 0\nSocketStream: 0\n"
                "System error message: Connection refused. Error code: " +
                std::to_string(ECONNREFUSED) + ".",
            e.what());
    }
    // A failed connect leaves the socket unconnected, so it may try again.
    auto server = factories.servers.create(0, 4);
    EXPECT_NE(nullptr, client->connect("127.0.0.1", server->localPort()));
}

TEST(ClientSocketImplTest, SecondConnectIsAFailedInternalCheck) {
    const platform::testing::TempFolder dir;
    EXPECT_DEATH(
        {
            LoopbackFactories factories;
            auto server = factories.servers.create(0, 4);
            auto client = factories.clients.create();
            client->connect("127.0.0.1", server->localPort());
            platform::testing::enterFolder(dir.path());
            client->connect("127.0.0.1", server->localPort());
        },
        "");
}

}  // namespace
