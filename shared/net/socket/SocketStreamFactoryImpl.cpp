#include "net/socket/SocketStreamFactoryImpl.h"

#include "net/socket/SocketStreamImpl.h"

namespace net::socket {

std::unique_ptr<SocketStream> SocketStreamFactoryImpl::create(int descriptor) {
    return std::make_unique<SocketStreamImpl>(descriptor, _errors);
}

}  // namespace net::socket
