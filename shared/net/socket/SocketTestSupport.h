#pragma once

// Helpers of the socket tests and the client's tests: a listening socket on plain system calls
// and a connected pair built from the production factories.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "posix/net/SocketErrors.h"

namespace net::socket::test_support {

// Listens on 127.0.0.1 (or ::1) at a port the system picks.
class Listener {
public:
    explicit Listener(int family = AF_INET) : _fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        auto* generic = family == AF_INET6 ? reinterpret_cast<sockaddr*>(&address6)
                                           : reinterpret_cast<sockaddr*>(&address);
        socklen_t length = family == AF_INET6 ? sizeof address6 : sizeof address;
        if (::bind(_fd, generic, length) != 0 || ::listen(_fd, 16) != 0 ||
            ::getsockname(_fd, generic, &length) != 0) {
            ADD_FAILURE() << "cannot listen";
        }
        _port = ntohs(family == AF_INET6 ? address6.sin6_port : address.sin_port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { ::close(_fd); }

    std::uint16_t port() const { return _port; }
    int accept() const { return ::accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC); }

private:
    int _fd;
    std::uint16_t _port = 0;
};

// The production factories.
struct Sockets {
    posix::net::SocketErrors errors;
    SocketStreamFactoryImpl streams{&errors};
    ClientSocketFactoryImpl clients{&errors, &streams};
};

// One connection over 127.0.0.1 to a listener. No thread is needed: the connection completes in
// the listen backlog before accept is called.
struct LoopbackPair : Sockets {
    Listener listener;
    std::unique_ptr<ClientSocket> clientSocket = clients.create();
    SocketStream* client = clientSocket->connect("127.0.0.1", listener.port());
    std::unique_ptr<SocketStream> accepted = streams.create(listener.accept());
};

}  // namespace net::socket::test_support
