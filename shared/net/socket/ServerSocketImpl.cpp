#include "net/socket/ServerSocketImpl.h"

#include <sys/socket.h>

#include <cerrno>

#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

ServerSocketImpl::ServerSocketImpl(const platform::errorresources::ErrorMapper* errors,
                                   SocketStreamFactory* streams, std::uint16_t port,
                                   std::uint32_t queueSize)
    : _errors(errors), _streams(streams), _port(port), _queueSize(queueSize) {
    open();
}

std::string ServerSocketImpl::detail(int code) const {
    return "Detailed information:\nSocket id: " + std::to_string(_closer.descriptor()) +
           "\nPort: " + std::to_string(_port) + "\nQueue: " + std::to_string(_queueSize) + "\n" +
           platform::errorresources::systemErrorText(code, _errors);
}

// Runs in the constructor once _closer exists, so a throw here closes the descriptor.
void ServerSocketImpl::open() {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        throw InitException("Error creating socket with the socket() call. " + detail(errno));
    }
    _closer.hold(descriptor);
    bindToPort();
    if (_queueSize > MaxQueueSize) {
        throw PreconditionException("The queue number is too large. It has to be between 0 and " +
                                    std::to_string(MaxQueueSize) + ".");
    }
    if (::listen(descriptor, static_cast<int>(_queueSize)) != 0) {
        throw InitException("Could not listen on socket. Failed using the listen system call. " +
                            detail(errno));
    }
}

void ServerSocketImpl::bindToPort() {
    const int descriptor = _closer.descriptor();
    const int reuse = 1;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
        throw ChangeStateException("Error making socket reusable using setsockopt(). " +
                                   detail(errno));
    }
    _address.sin_family = AF_INET;
    _address.sin_addr.s_addr = htonl(INADDR_ANY);
    _address.sin_port = htons(_port);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&_address), sizeof _address) != 0) {
        throw InitException("Could not bind the socket. Failed using the bind system call. " +
                            detail(errno));
    }
    // Port 0 lets the system choose; remember its choice for localPort and the detail block.
    socklen_t length = sizeof _address;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&_address), &length) != 0) {
        throw InitException(
            "Could not read the bound address. Failed using the getsockname system call. " +
            detail(errno));
    }
    _port = ntohs(_address.sin_port);
}

std::unique_ptr<SocketStream> ServerSocketImpl::accept() {
    int descriptor;
    do {
        descriptor = ::accept4(_closer.descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        const int code = errno;
        throw AcceptException(
            "Error accepting a connection. Failed using the accept system call. " + detail(code));
    }
    SocketCloser accepted(descriptor);
    std::unique_ptr<SocketStream> stream = _streams->create(descriptor);
    accepted.release();
    return stream;
}

void ServerSocketImpl::close() {
    const int descriptor = _closer.descriptor();
    // Wakes a thread blocked in accept (it fails with EINVAL); a failure means the socket is
    // already closed or never listened, and the close below reports what matters.
    if (descriptor != SocketCloser::InvalidDescriptor) ::shutdown(descriptor, SHUT_RDWR);
    _closer.close();
}

}  // namespace net::socket
