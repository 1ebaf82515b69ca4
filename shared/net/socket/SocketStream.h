#pragma once

#include <cstdint>
#include <string>

namespace net::socket {

// One connected TCP socket, read and written with blocking calls. A stream is used by one thread
// at a time, with one exception: another thread may call shutdown (for instance shutdown(Receive)
// to end a read that blocks while the server stops). Sizes are byte counts of at most MaxSize.
// Every failure throws a SocketException (SocketExceptions.h).
class SocketStream {
public:
    // Ends for shutdown.
    static constexpr int Receive = 0;
    static constexpr int Send = 1;
    static constexpr int Both = 2;

    static constexpr std::uint32_t MaxSize = 2147483647;

    virtual ~SocketStream() = default;

    // Disables receiving (0), sending (1) or both (2).
    virtual void shutdown(int end) = 0;
    // Closes the socket; a second close, or destroying the stream afterwards, closes nothing.
    virtual void close() = 0;
    // One receive of at most n bytes; returns the count, 0 when the peer has ended its sending
    // side.
    virtual int readSome(char* buffer, std::uint32_t n) = 0;
    // Sends all n bytes (nothing at all when n is 0).
    virtual void write(const char* buffer, std::uint32_t n) = 0;
    // From now on a readSome or write that waits `milliseconds` (more than 0) without receiving
    // or sending a byte throws TimeoutException; a peer that moves some bytes now and then is
    // waited for as long as it takes. Without a call, they wait for ever.
    virtual void setTimeout(std::uint32_t milliseconds) = 0;
};

}  // namespace net::socket
