#pragma once

#include <memory>

#include "net/socket/SocketStream.h"

namespace net::socket {

// Makes the stream of a connected socket. The stream takes ownership of the descriptor only when
// create returns; if create throws, the caller still owns (and closes) it. Callable from any
// thread.
class SocketStreamFactory {
public:
    virtual ~SocketStreamFactory() = default;

    virtual std::unique_ptr<SocketStream> create(int descriptor) = 0;
};

}  // namespace net::socket
