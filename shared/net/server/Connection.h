#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace net::server {

// One client connection's exchange as the EventServer drives it: the request arrives in pieces,
// ends when the client shuts down its sending side, is executed, and one answer goes back. The
// connection does no I/O itself; it says what comes next and when the client has run out of
// time. Everything but execute is called by the thread that runs the server's reactor at the
// time; execute runs on a thread of its own meanwhile, and the server hands the connection
// between them so that no two calls ever overlap. Destroying the connection ends it (the socket
// is already closed then).
class Connection {
public:
    using Clock = std::chrono::steady_clock;

    enum class Step {
        Read,     // wants more of the request
        Execute,  // a complete request waits for execute
        Answer,   // answer() is to be sent, then the sending side shut down
        Drop,     // close without a further byte
    };

    virtual ~Connection() = default;

    // The next bytes of the request.
    virtual Step received(const char* bytes, std::size_t size) = 0;
    // The client has ended its sending side: Execute or Answer.
    virtual Step ended() = 0;
    // Runs the complete request: Answer or Drop.
    virtual Step execute() = 0;
    virtual const std::string& answer() const = 0;

    // The point in time by which the client must have sent its next byte or its whole request
    // (while reading), or read the whole answer (while answering).
    virtual Clock::time_point deadline() const = 0;
    // The deadline passed; the connection is closed afterwards.
    virtual void timedOut() = 0;
    // A receive or send failed with the system's error text; the connection is closed afterwards.
    virtual void failed(const std::string& reason) = 0;
};

}  // namespace net::server
