#pragma once

#include <mutex>

#include "net/socket/SocketStream.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Closes a connection's socket stream when the scope ends, whichever way it ends. A failed close
// is logged at level Error and never thrown. closeLock (may be null) is held while closing: a
// thread that shuts the stream down under the same lock then finds it either open or closed,
// never a descriptor number that another connection has been given meanwhile.
class ScopedSocketCloser {
public:
    ScopedSocketCloser(net::socket::SocketStream* stream, Log* log,
                       std::mutex* closeLock = nullptr) noexcept
        : _stream(stream), _log(log), _closeLock(closeLock) {}
    ScopedSocketCloser(const ScopedSocketCloser&) = delete;
    ScopedSocketCloser& operator=(const ScopedSocketCloser&) = delete;
    ~ScopedSocketCloser();

private:
    void close();

    net::socket::SocketStream* _stream;
    Log* _log;
    std::mutex* _closeLock;
};

}  // namespace norvale::quillmark
