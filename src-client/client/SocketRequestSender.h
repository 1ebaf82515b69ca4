#pragma once

#include <cstdint>
#include <string>

#include "client/RequestSender.h"
#include "net/socket/ClientSocketFactory.h"

namespace norvale::quillmark::client {

// One TCP connection per request: connect, send the request, shut down the sending side so the
// server sees its end, read until the server closes. The socket factory is not owned. Used by
// one thread.
class SocketRequestSender : public RequestSender {
public:
    SocketRequestSender(net::socket::ClientSocketFactory* sockets, std::string host,
                        std::uint16_t port);

    std::string send(std::string_view request) override;

private:
    net::socket::ClientSocketFactory* _sockets;
    std::string _host;
    std::uint16_t _port;
};

}  // namespace norvale::quillmark::client
