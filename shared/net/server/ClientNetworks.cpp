#include "net/server/ClientNetworks.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

#include "net/socket/SocketExceptions.h"

namespace net::server {

namespace {

using boost::asio::ip::address;

// Whether the first `bits` bits of the two equal-sized byte arrays agree.
template <std::size_t Size>
bool samePrefix(const std::array<unsigned char, Size>& a, const std::array<unsigned char, Size>& b,
                unsigned bits) {
    for (std::size_t i = 0; i < Size && bits > 0; ++i) {
        const unsigned take = bits < 8 ? bits : 8;
        const auto mask = static_cast<unsigned char>(0xff00u >> take);
        if ((a[i] & mask) != (b[i] & mask)) return false;
        bits -= take;
    }
    return true;
}

address plain(const address& client) {
    if (client.is_v6() && client.to_v6().is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, client.to_v6());
    }
    return client;
}

}  // namespace

ClientNetworks ClientNetworks::parse(std::string_view text) {
    ClientNetworks networks;
    constexpr std::string_view Separators = " \t\r\n,";
    std::size_t begin = text.find_first_not_of(Separators);
    while (begin != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(Separators, begin), text.size());
        const std::string entry(text.substr(begin, end - begin));
        const std::size_t slash = entry.find('/');
        boost::system::error_code failure;
        const address network = boost::asio::ip::make_address(entry.substr(0, slash), failure);
        const unsigned widest = network.is_v4() ? 32 : 128;
        unsigned prefix = widest;
        bool valid = !failure;
        if (valid && slash != std::string::npos) {
            const char* first = entry.data() + slash + 1;
            const char* last = entry.data() + entry.size();
            const auto [stop, error] = std::from_chars(first, last, prefix);
            valid = first != last && error == std::errc() && stop == last && prefix <= widest;
        }
        if (!valid) {
            throw net::socket::PreconditionException(
                "'" + entry + "' is not an IPv4 or IPv6 address or network (address/prefix).");
        }
        networks._networks.push_back({network, prefix});
        begin = text.find_first_not_of(Separators, end);
    }
    return networks;
}

bool ClientNetworks::allows(const address& client) const {
    if (_networks.empty()) return true;
    const address seen = plain(client);
    for (const Network& network : _networks) {
        for (const address& candidate : {seen, client}) {
            if (candidate.is_v4() && network.address.is_v4() &&
                samePrefix(candidate.to_v4().to_bytes(), network.address.to_v4().to_bytes(),
                           network.prefixLength)) {
                return true;
            }
            if (candidate.is_v6() && network.address.is_v6() &&
                samePrefix(candidate.to_v6().to_bytes(), network.address.to_v6().to_bytes(),
                           network.prefixLength)) {
                return true;
            }
        }
    }
    return false;
}

boost::asio::ip::address addressOf(const std::string& text, const std::string& role) {
    boost::system::error_code failure;
    const boost::asio::ip::address address = boost::asio::ip::make_address(text, failure);
    if (failure) {
        throw net::socket::PreconditionException("The " + role + " address '" + text +
                                                 "' is not an IPv4 or IPv6 address.");
    }
    return address;
}

}  // namespace net::server
