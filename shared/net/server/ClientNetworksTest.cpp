#include "net/server/ClientNetworks.h"

#include <gtest/gtest.h>

#include <string>

#include "net/socket/SocketExceptions.h"

namespace net::server {
namespace {

// One address inside and one outside are served and refused in ClassifyConnectionTest.
TEST(ClientNetworksTest, ClientsInsideTheNetworksOnlyAndNoOtherEntries) {
    const struct {
        const char* networks;
        const char* client;
        bool allowed;
    } cases[] = {
        {"", "203.0.113.9", true},
        {"10.0.0.0/8, 192.168.1.0/24", "10.200.3.4", true},
        {"10.0.0.0/8, 192.168.1.0/24", "192.168.2.1", false},
        {"192.168.1.128/25", "192.168.1.127", false},
        {"192.168.1.128/25", "192.168.1.200", true},
        {"172.16.0.0/12", "172.31.255.255", true},
        {"172.16.0.0/12", "172.32.0.0", false},
        {"0.0.0.0/0", "8.8.8.8", true},
        {"127.0.0.1", "::ffff:127.0.0.1", true},  // IPv4 through an IPv6 socket
        {"::1", "::1", true},
        {"::1", "127.0.0.1", false},
        {"fd00::/8\n2001:db8::/33", "2001:db8:7fff::1", true},
        {"fd00::/8\n2001:db8::/33", "2001:db8:8000::1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.networks) + " / " + c.client);
        EXPECT_EQ(
            c.allowed,
            ClientNetworks::parse(c.networks).allows(boost::asio::ip::make_address(c.client)));
    }
    // Entries that are no network are refused (the message is checked where the configuration
    // is read).
    for (const char* entry : {"localhost", "10.0.0.0/33", "::1/129", "10.0.0.0/", "10.0.0.0/8x",
                              "10.0.0.0/-1", "1.2.3"}) {
        EXPECT_THROW(ClientNetworks::parse(std::string("127.0.0.1 ") + entry),
                     net::socket::PreconditionException)
            << entry;
    }
}

}  // namespace
}  // namespace net::server
