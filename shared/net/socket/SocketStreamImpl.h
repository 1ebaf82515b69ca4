#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "net/socket/SocketCloser.h"
#include "net/socket/SocketStream.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// SocketStream over a connected TCP descriptor, which it owns from construction. Reads and sends
// retry when a signal interrupts them, so a signal never turns into a socket failure or a short
// send; sends pass MSG_NOSIGNAL, so a vanished peer is a WriteException, never SIGPIPE.
class SocketStreamImpl : public SocketStream {
public:
    // errors: the table for codes the system has no text for; not owned, may be null.
    SocketStreamImpl(int descriptor, const platform::errorresources::ErrorMapper* errors) noexcept;

    void shutdown(int end) override;
    void close() override;
    int readSome(char* buffer, std::uint32_t n) override;
    void write(const char* buffer, std::uint32_t n) override;
    void setTimeout(std::uint32_t milliseconds) override;

private:
    // System calls go to the closer's descriptor, which is -1 once closed: a stream used after
    // close fails with EBADF instead of touching a descriptor number the process has reused.
    int openDescriptor() const noexcept { return _closer.descriptor(); }
    bool timedOut(int code) const noexcept {
        return _timed && (code == EAGAIN || code == EWOULDBLOCK);
    }
    // "Detailed information\nSocket fd: ..." with the system error text of code.
    std::string detail(int code) const;

    const int _descriptor;
    SocketCloser _closer;
    const platform::errorresources::ErrorMapper* _errors;
    // Set by setTimeout: the system's "would block" then means the time ran out.
    bool _timed = false;
};

}  // namespace net::socket
