#include "load/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bench::load {

namespace {

[[noreturn]] void refuse(const char* call) {
    throw LoopbackClientException(std::string("Failed using the '") + call +
                                  "' system call: " + std::strerror(errno));
}

// Closes the socket with the scope.
class Socket {
public:
    Socket() : _fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (_fd < 0) refuse("socket");
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { ::close(_fd); }

    bool connect(std::uint16_t port) const {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return ::connect(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    int fd() const { return _fd; }

private:
    int _fd;
};

}  // namespace

std::string LoopbackClient::exchange(const std::string& request) const {
    Socket socket;
    if (!socket.connect(_port)) refuse("connect");
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n =
            ::send(socket.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) refuse("send");
        sent += static_cast<std::size_t>(n);
    }
    if (::shutdown(socket.fd(), SHUT_WR) != 0) refuse("shutdown");
    std::string answer;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse("recv");
        if (n == 0) return answer;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
}

bool LoopbackClient::accepts() const {
    Socket socket;
    return socket.connect(_port);
}

}  // namespace bench::load
