#pragma once

#include "net/socket/ServerSocketFactory.h"
#include "net/socket/SocketStreamFactory.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// Makes ServerSocketImpl objects. The error table (may be null) and the stream factory are not
// owned and must outlive every socket made.
class ServerSocketFactoryImpl : public ServerSocketFactory {
public:
    ServerSocketFactoryImpl(const platform::errorresources::ErrorMapper* errors,
                            SocketStreamFactory* streams) noexcept
        : _errors(errors), _streams(streams) {}

    std::unique_ptr<ServerSocket> create(std::uint16_t port, std::uint32_t queueSize) override;

private:
    const platform::errorresources::ErrorMapper* _errors;
    SocketStreamFactory* _streams;
};

}  // namespace net::socket
