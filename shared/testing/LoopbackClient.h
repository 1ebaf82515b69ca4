#pragma once

// The loopback client of the tests: one TCP connection to 127.0.0.1 on plain system calls, so a
// test can end its sending side, reset the connection or wait for an answer with a time limit.
// Failures show as results, never as exceptions, so a test states what it expects of them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::quillmark::testing {

class LoopbackClient {
public:
    // A receiveBuffer above 0 sets the socket's receive buffer size; the connection comes from
    // `from`, another address of this machine (127.x.y.z), when it is not 127.0.0.1.
    explicit LoopbackClient(std::uint16_t port, int receiveBuffer = 0,
                            std::uint32_t from = INADDR_LOOPBACK)
        : _fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            ::setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{AF_INET, 0, {htonl(from)}, {}};
        const auto* raw = reinterpret_cast<sockaddr*>(&address);
        _connected = _fd >= 0 && (from == INADDR_LOOPBACK || ::bind(_fd, raw, sizeof address) == 0);
        address = {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        _connected = _connected && ::connect(_fd, raw, sizeof address) == 0;
    }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;
    ~LoopbackClient() {
        if (_fd >= 0) ::close(_fd);
    }

    // One request over a fresh connection: the whole answer, "" when the connection failed.
    static std::string ask(std::uint16_t port, std::string_view request) {
        LoopbackClient client(port);
        if (!client.connected() || !client.request(request)) return "";
        return client.answer();
    }

    bool connected() const { return _connected; }
    int fd() const { return _fd; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    // Ends the sending side: the request is complete.
    bool finish() { return ::shutdown(_fd, SHUT_WR) == 0; }
    bool request(std::string_view bytes) { return send(bytes) && finish(); }

    // Whether something (data or the end of the stream) can be read within timeout.
    bool readable(std::chrono::milliseconds timeout) {
        pollfd entry{_fd, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
    }

    // Everything the server sends until it ends its side; wasReset() tells whether the
    // connection was reset instead.
    std::string answer() {
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(_fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) _wasReset = true;
            if (n <= 0) return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    bool wasReset() const { return _wasReset; }

    // Closes so that the server sees a reset rather than an orderly end.
    void abort() {
        linger option{1, 0};
        ::setsockopt(_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        ::close(_fd);
        _fd = -1;
    }

private:
    int _fd;
    bool _connected = false;
    bool _wasReset = false;
};

}  // namespace norvale::quillmark::testing
