#pragma once

#include <cstdint>
#include <memory>

#include "net/socket/ServerSocket.h"

namespace net::socket {

// Makes listening sockets; the caller owns them. Callable from any thread.
class ServerSocketFactory {
public:
    virtual ~ServerSocketFactory() = default;

    // Binds to all local addresses at port (0: a free port the system picks) and listens with
    // queueSize as backlog. Throws InitException, ChangeStateException or PreconditionException.
    virtual std::unique_ptr<ServerSocket> create(std::uint16_t port, std::uint32_t queueSize) = 0;
};

}  // namespace net::socket
