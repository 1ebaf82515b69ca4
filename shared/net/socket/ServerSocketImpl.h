#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "net/socket/ServerSocket.h"
#include "net/socket/SocketCloser.h"
#include "net/socket/SocketStreamFactory.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// ServerSocket over a listening IPv4 descriptor (SO_REUSEADDR, bound to INADDR_ANY). close shuts
// the socket down before closing it: on Linux only the shutdown wakes a thread blocked in accept.
class ServerSocketImpl : public ServerSocket {
public:
    static constexpr std::uint32_t MaxQueueSize = 2147483647;

    // Opens, binds and listens. errors (may be null) and streams are not owned and must outlive
    // the socket. Throws InitException, ChangeStateException or PreconditionException; the
    // descriptor is closed again on every failure.
    ServerSocketImpl(const platform::errorresources::ErrorMapper* errors,
                     SocketStreamFactory* streams, std::uint16_t port, std::uint32_t queueSize);

    std::unique_ptr<SocketStream> accept() override;
    void close() override;
    std::uint16_t localPort() const override { return _port; }

private:
    // "Detailed information:\nSocket id: ..." with the system error text of code.
    std::string detail(int code) const;
    void open();
    void bindToPort();

    const platform::errorresources::ErrorMapper* _errors;
    SocketStreamFactory* _streams;
    SocketCloser _closer;
    std::uint16_t _port;
    const std::uint32_t _queueSize;
    sockaddr_in _address{};
};

}  // namespace net::socket
