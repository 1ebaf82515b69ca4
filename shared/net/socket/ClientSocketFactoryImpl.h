#pragma once

#include "net/socket/ClientSocketFactory.h"
#include "net/socket/SocketStreamFactory.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// Makes ClientSocketImpl objects. The error table (may be null) and the stream factory are not
// owned and must outlive every socket made.
class ClientSocketFactoryImpl : public ClientSocketFactory {
public:
    ClientSocketFactoryImpl(const platform::errorresources::ErrorMapper* errors,
                            SocketStreamFactory* streams) noexcept
        : _errors(errors), _streams(streams) {}

    std::unique_ptr<ClientSocket> create() override;

private:
    const platform::errorresources::ErrorMapper* _errors;
    SocketStreamFactory* _streams;
};

}  // namespace net::socket
