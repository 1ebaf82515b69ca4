#include "client/SocketRequestSender.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "net/socket/ClientSocket.h"
#include "net/socket/SocketStream.h"

namespace norvale::quillmark::client {

namespace {

constexpr std::size_t BlockSize = 65536;

}  // namespace

SocketRequestSender::SocketRequestSender(net::socket::ClientSocketFactory* sockets,
                                         std::string host, std::uint16_t port,
                                         std::uint32_t silenceMilliseconds)
    : _sockets(sockets),
      _host(std::move(host)),
      _port(port),
      _silenceMilliseconds(silenceMilliseconds) {}

std::string SocketRequestSender::send(std::string_view request) {
    const std::unique_ptr<net::socket::ClientSocket> socket = _sockets->create();
    net::socket::SocketStream* stream = socket->connect(_host, _port);
    stream->setTimeout(_silenceMilliseconds);
    for (std::size_t sent = 0; sent < request.size();) {
        const std::size_t block = std::min(BlockSize, request.size() - sent);
        stream->write(request.data() + sent, static_cast<std::uint32_t>(block));
        sent += block;
    }
    stream->shutdown(net::socket::SocketStream::Send);
    std::string answer;
    char buffer[BlockSize];
    for (;;) {
        const int received = stream->readSome(buffer, sizeof buffer);
        if (received <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    stream->close();
    return answer;
}

}  // namespace norvale::quillmark::client
