#pragma once

#include <atomic>

namespace net::socket {

// Owns one socket descriptor and closes it at most once. Every socket object holds its descriptor
// through one of these, so destroying the object closes the socket. The descriptor is atomic
// because a server socket may be closed by one thread while another is blocked in accept on it.
class SocketCloser {
public:
    static constexpr int InvalidDescriptor = -1;

    explicit SocketCloser(int descriptor = InvalidDescriptor) noexcept : _descriptor(descriptor) {}
    SocketCloser(const SocketCloser&) = delete;
    SocketCloser& operator=(const SocketCloser&) = delete;
    // Never throws: a failed close here is a failed internal check.
    ~SocketCloser();

    // Closes the descriptor when one is held; afterwards none is held, even when the close
    // failed (Linux frees the descriptor in every case, so closing it again could hit a reused
    // number). Throws CloseException on failure.
    void close();

    // Takes ownership of a descriptor; only while none is held.
    void hold(int descriptor) noexcept;

    // Gives up ownership without closing; returns the descriptor.
    int release() noexcept { return _descriptor.exchange(InvalidDescriptor); }

    int descriptor() const noexcept { return _descriptor.load(); }

private:
    std::atomic<int> _descriptor;
};

}  // namespace net::socket
