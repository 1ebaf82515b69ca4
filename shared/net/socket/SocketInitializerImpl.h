#pragma once

#include "net/socket/SocketInitializer.h"

namespace net::socket {

// Linux needs no socket library start-up. What it does need: a send to a peer that has gone
// raises SIGPIPE, whose default action ends the process. Every send of this layer already passes
// MSG_NOSIGNAL; the initializer also ignores SIGPIPE process-wide, so writes by other code (pipes,
// libraries) cannot kill the server either. The disposition is left ignored on destruction, since
// other threads may still write while the initializer goes away.
class SocketInitializerImpl : public SocketInitializer {
public:
    // Throws InitException when the signal disposition cannot be changed.
    SocketInitializerImpl();
    ~SocketInitializerImpl() override = default;
};

}  // namespace net::socket
