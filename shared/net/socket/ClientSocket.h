#pragma once

#include <cstdint>
#include <string>

#include "net/socket/SocketStream.h"

namespace net::socket {

// The connecting side of a TCP connection over IPv4 or IPv6. connect may be called once; the client
// socket owns the resulting stream, and destroying it closes the connection. Used by one thread.
class ClientSocket {
public:
    virtual ~ClientSocket() = default;

    // Resolves host (a name or an IPv4 or IPv6 address) and connects; the stream stays owned by
    // this object. Throws InitException or ConnectException.
    virtual SocketStream* connect(const std::string& host, std::uint16_t port) = 0;
};

}  // namespace net::socket
