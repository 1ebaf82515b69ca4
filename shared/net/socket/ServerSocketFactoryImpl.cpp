#include "net/socket/ServerSocketFactoryImpl.h"

#include "net/socket/ServerSocketImpl.h"

namespace net::socket {

std::unique_ptr<ServerSocket> ServerSocketFactoryImpl::create(std::uint16_t port,
                                                              std::uint32_t queueSize) {
    return std::make_unique<ServerSocketImpl>(_errors, _streams, port, queueSize);
}

}  // namespace net::socket
