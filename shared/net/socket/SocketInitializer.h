#pragma once

namespace net::socket {

// Held by the start-up code for as long as sockets are in use. It prepares the process for the
// socket layer; the implementation decides what that takes on its platform. Construct and destroy
// it on the main thread, before the first socket and after the last.
class SocketInitializer {
public:
    virtual ~SocketInitializer() = default;
};

}  // namespace net::socket
