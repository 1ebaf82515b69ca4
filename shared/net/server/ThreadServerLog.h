#pragma once

namespace net::server {

// Where the thread server sends the text of failures in its accept loop (a failed accept, a
// connection that could not be started). Called from the server's create-clients thread; the
// implementation must be thread-safe. The server does not own it and works without one.
class ThreadServerLog {
public:
    virtual ~ThreadServerLog() = default;

    virtual void report(const char* text) = 0;
};

}  // namespace net::server
