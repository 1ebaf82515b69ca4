#include "net/socket/ClientSocketImpl.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <sstream>

#include "debug/assertion.h"
#include "net/socket/SocketCloser.h"
#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

namespace {

// A connect interrupted by a signal goes on in the background; wait for it to end and fetch its
// result. Returns 0 or sets errno and returns -1, like connect.
int finishInterruptedConnect(int descriptor) {
    pollfd entry{descriptor, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
    if (error == 0) return 0;
    errno = error;
    return -1;
}

}  // namespace

ClientSocketImpl::ClientSocketImpl(const platform::errorresources::ErrorMapper* errors,
                                   SocketStreamFactory* streams) noexcept
    : _errors(errors), _streams(streams) {}

std::string ClientSocketImpl::detail(int code) const {
    std::ostringstream stream;
    stream << static_cast<const void*>(_socketStream.get());
    return "Detailed information:\nHost: " + _host + "\nPort: " + std::to_string(_port) +
           "\nSocketStream: " + stream.str() + "\n" +
           platform::errorresources::systemErrorText(code, _errors);
}

SocketStream* ClientSocketImpl::connect(const std::string& host, std::uint16_t port) {
    QM_ASSERT(!_socketStream, "The client socket is already connected.");
    SocketCloser closer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (closer.descriptor() < 0) {
        throw InitException("Error creating socket with the 'socket' system call.\n" +
                            detail(errno));
    }
    sockaddr_in address{};
    resolve(host, address);
    address.sin_port = htons(port);
    connectTo(closer.descriptor(), address, host, port);
    _host = host;
    _port = port;
    _peer = address;
    _socketStream = _streams->create(closer.descriptor());
    closer.release();
    return _socketStream.get();
}

// getaddrinfo reports its own codes (negative EAI_* values) instead of errno; the socket error
// table describes them, and EAI_SYSTEM defers to errno.
void ClientSocketImpl::resolve(const std::string& host, sockaddr_in& address) const {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        const int code = result == EAI_SYSTEM ? errno : result;
        throw ConnectException("Error converting hostname " + host +
                               " to an IP address.\nFailed using the 'gethostbyname' system "
                               "call.\n" +
                               detail(code));
    }
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
}

void ClientSocketImpl::connectTo(int descriptor, const sockaddr_in& address,
                                 const std::string& host, std::uint16_t port) const {
    int result = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result != 0 && errno == EINTR) result = finishInterruptedConnect(descriptor);
    if (result != 0) {
        const int code = errno;
        throw ConnectException(
            "Error connecting socket.\nFailed using the 'connect' system call.\n"
            "Trying to connect to " +
            host + ":" + std::to_string(port) + ".\n" + detail(code));
    }
}

}  // namespace net::socket
