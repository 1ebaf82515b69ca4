#include "net/socket/ClientSocketImpl.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    // IPv4 addresses first, as the server listens on IPv4 unless told otherwise; a name that
    // also has IPv6 addresses reaches a server listening there. The first failure is reported.
    std::vector<sockaddr_storage> addresses = resolve(host, port);
    std::stable_partition(addresses.begin(), addresses.end(),
                          [](const sockaddr_storage& a) { return a.ss_family == AF_INET; });
    int firstError = 0;
    bool attempted = false;
    for (const sockaddr_storage& address : addresses) {
        SocketCloser closer(::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (closer.descriptor() < 0) {
            if (firstError == 0) firstError = errno;
            continue;
        }
        const int error = connectTo(closer.descriptor(), address);
        if (error == 0) {
            _host = host;
            _port = port;
            _socketStream = _streams->create(closer.descriptor());
            closer.release();
            return _socketStream.get();
        }
        if (!attempted) firstError = error;
        attempted = true;
    }
    if (!attempted) {
        throw InitException("Error creating socket with the 'socket' system call.\n" +
                            detail(firstError));
    }
    throw ConnectException(
        "Error connecting socket.\nFailed using the 'connect' system call.\n"
        "Trying to connect to " +
        host + ":" + std::to_string(port) + ".\n" + detail(firstError));
}

// getaddrinfo reports its own codes (negative EAI_* values) instead of errno; the socket error
// table describes them, and EAI_SYSTEM defers to errno.
std::vector<sockaddr_storage> ClientSocketImpl::resolve(const std::string& host,
                                                        std::uint16_t port) const {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (result != 0) {
        const int code = result == EAI_SYSTEM ? errno : result;
        throw ConnectException("Error converting hostname " + host +
                               " to an IP address.\nFailed using the 'gethostbyname' system "
                               "call.\n" +
                               detail(code));
    }
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

// 0, or the errno of the failed connect.
int ClientSocketImpl::connectTo(int descriptor, const sockaddr_storage& address) {
    const socklen_t length =
        address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    int result = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length);
    if (result != 0 && errno == EINTR) result = finishInterruptedConnect(descriptor);
    return result == 0 ? 0 : errno;
}

}  // namespace net::socket
