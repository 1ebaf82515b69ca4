#include "net/socket/ClientSocketFactoryImpl.h"

#include "net/socket/ClientSocketImpl.h"

namespace net::socket {

std::unique_ptr<ClientSocket> ClientSocketFactoryImpl::create() {
    return std::make_unique<ClientSocketImpl>(_errors, _streams);
}

}  // namespace net::socket
