#include "net/socket/SocketCloser.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "debug/assertion.h"
#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

SocketCloser::~SocketCloser() {
    try {
        close();
    } catch (const CloseException& e) {
        debug::assertion("false", e.what(), __FILE__, __LINE__);
    }
}

void SocketCloser::hold(int descriptor) noexcept {
    QM_ASSERT(_descriptor.load() == InvalidDescriptor,
              "The socket closer already holds a descriptor.");
    _descriptor.store(descriptor);
}

void SocketCloser::close() {
    const int descriptor = _descriptor.exchange(InvalidDescriptor);
    if (descriptor == InvalidDescriptor) return;
    // EINTR still releases the descriptor on Linux; it is not a failure to report.
    if (::close(descriptor) != 0 && errno != EINTR) {
        const int code = errno;
        throw CloseException(
            "Error closing the socket in the SocketCloser. The closesocket system call failed. "
            "Socket id: " +
            std::to_string(descriptor) + ". " + platform::errorresources::systemErrorText(code));
    }
}

}  // namespace net::socket
