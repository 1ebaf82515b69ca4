#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/socket/ClientSocket.h"
#include "net/socket/SocketStreamFactory.h"
#include "platform/errorresources/ErrorMapper.h"

namespace net::socket {

// ClientSocket over TCP: the name is resolved with getaddrinfo, its addresses are tried IPv4 first
// until one connects, and the connected descriptor is handed to a stream from the stream factory.
class ClientSocketImpl : public ClientSocket {
public:
    // errors (may be null) and streams are not owned and must outlive the socket.
    ClientSocketImpl(const platform::errorresources::ErrorMapper* errors,
                     SocketStreamFactory* streams) noexcept;

    SocketStream* connect(const std::string& host, std::uint16_t port) override;

private:
    // "Detailed information:\nHost: ..." with the system error text of code. Host and port are
    // stored only once connected, so a failed connect shows them empty; its message names them.
    std::string detail(int code) const;
    // The addresses of host, in the resolver's order. Throws ConnectException.
    std::vector<sockaddr_storage> resolve(const std::string& host, std::uint16_t port) const;
    static int connectTo(int descriptor, const sockaddr_storage& address);

    const platform::errorresources::ErrorMapper* _errors;
    SocketStreamFactory* _streams;
    std::unique_ptr<SocketStream> _socketStream;
    std::string _host;
    std::uint16_t _port = 0;
};

}  // namespace net::socket
