#pragma once

#include <memory>

#include "net/socket/ClientSocket.h"

namespace net::socket {

// Makes unconnected client sockets; the caller owns them. Callable from any thread.
class ClientSocketFactory {
public:
    virtual ~ClientSocketFactory() = default;

    virtual std::unique_ptr<ClientSocket> create() = 0;
};

}  // namespace net::socket
