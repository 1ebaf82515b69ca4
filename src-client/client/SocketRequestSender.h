#pragma once

#include <cstdint>
#include <string>

#include "client/RequestSender.h"
#include "net/socket/ClientSocketFactory.h"

namespace norvale::quillmark::client {

// One TCP connection per request: connect, send the request, shut down the sending side so the
// server sees its end, read until the server closes. A server that takes or sends no byte for
// `silenceMilliseconds` ends the exchange with net::socket::TimeoutException; a slow answer that
// keeps coming is read to its end. The socket factory is not owned. Used by one thread.
class SocketRequestSender : public RequestSender {
public:
    SocketRequestSender(net::socket::ClientSocketFactory* sockets, std::string host,
                        std::uint16_t port, std::uint32_t silenceMilliseconds);

    std::string send(std::string_view request) override;

private:
    net::socket::ClientSocketFactory* _sockets;
    std::string _host;
    std::uint16_t _port;
    std::uint32_t _silenceMilliseconds;
};

}  // namespace norvale::quillmark::client
