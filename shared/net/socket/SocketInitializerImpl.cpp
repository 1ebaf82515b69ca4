#include "net/socket/SocketInitializerImpl.h"

#include <csignal>

#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

SocketInitializerImpl::SocketInitializerImpl() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        throw InitException(
            "Could not prepare the process for sockets. Failed using the 'sigaction' system "
            "call. " +
            platform::errorresources::lastSystemErrorText());
    }
}

}  // namespace net::socket
