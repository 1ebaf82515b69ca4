#pragma once

#include <cstdint>
#include <memory>

#include "net/socket/SocketStream.h"

namespace net::socket {

// A listening TCP socket on all local IPv4 addresses, listening from construction until close or
// destruction. accept runs on one thread; close may come from any other thread and makes a
// blocked accept fail with AcceptException, which is how a serving loop is ended.
class ServerSocket {
public:
    virtual ~ServerSocket() = default;

    // Blocks until a client connects; the caller owns the stream of the new connection.
    virtual std::unique_ptr<SocketStream> accept() = 0;
    virtual void close() = 0;

    // The port the socket is bound to: the one asked for, or the one the system chose when
    // port 0 was asked for.
    virtual std::uint16_t localPort() const = 0;
};

}  // namespace net::socket
