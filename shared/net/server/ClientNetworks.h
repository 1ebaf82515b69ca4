#pragma once

#include <boost/asio/ip/address.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace net::server {

// The networks clients may connect from: IPv4 and IPv6 networks in CIDR notation, or single
// addresses. An empty list allows every client. An IPv4 client seen through an IPv6 socket
// (::ffff:a.b.c.d) is matched as the IPv4 address it is, and as itself.
class ClientNetworks {
public:
    ClientNetworks() = default;

    // Entries separated by spaces, tabs, line breaks or commas, e.g. "127.0.0.1 10.0.0.0/8 ::1".
    // Throws PreconditionException naming the first entry that is not one.
    static ClientNetworks parse(std::string_view text);

    bool empty() const { return _networks.empty(); }
    bool allows(const boost::asio::ip::address& client) const;

private:
    struct Network {
        boost::asio::ip::address address;
        unsigned prefixLength;
    };

    std::vector<Network> _networks;
};

// The IPv4 or IPv6 address written in `text`; `role` names it in the PreconditionException
// thrown for anything else ("The listen address '...' is not ...").
boost::asio::ip::address addressOf(const std::string& text, const std::string& role);

}  // namespace net::server
