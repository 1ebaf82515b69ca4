#pragma once

#include "net/socket/SocketStreamFactory.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// Makes SocketStreamImpl objects that share one error table (not owned, may be null).
class SocketStreamFactoryImpl : public SocketStreamFactory {
public:
    explicit SocketStreamFactoryImpl(const platform::errorresources::ErrorMapper* errors) noexcept
        : _errors(errors) {}

    std::unique_ptr<SocketStream> create(int descriptor) override;

private:
    const platform::errorresources::ErrorMapper* _errors;
};

}  // namespace net::socket
