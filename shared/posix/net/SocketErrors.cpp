#include "posix/net/SocketErrors.h"

#include <netdb.h>

#include <cerrno>

#include "debug/assertion.h"

namespace posix::net {

SocketErrors::SocketErrors() {
    addSystemErrors();
    addConnectionErrors();
    addNameLookupErrors();
}

bool SocketErrors::lookup(int code, std::string& text) const {
    const auto found = _errors.find(code);
    if (found == _errors.end()) return false;
    text = found->second;
    return true;
}

void SocketErrors::add(int code, const char* text) {
    const bool inserted = _errors.emplace(code, text).second;
    QM_ASSERT(inserted, "An error code was added twice to the socket error table.");
}

// Codes about the descriptor, the arguments and the resources of a call.
void SocketErrors::addSystemErrors() {
    add(EBADF,
        "Bad file descriptor. The descriptor is not valid; the socket may already be closed.");
    add(EINTR, "Interrupted function call. A blocking operation was interrupted by a signal.");
    add(EACCES,
        "Permission denied. An attempt was made to access a socket in a way forbidden by its "
        "access permissions.");
    add(EFAULT,
        "Bad address. The system detected an invalid pointer address in attempting to use a "
        "pointer argument of a call.");
    add(EINVAL,
        "Invalid argument. An invalid argument was supplied, or the socket is not in a state that "
        "allows the operation (for example accept on a socket that is not listening).");
    add(ENFILE,
        "Too many open files in system. The system-wide limit on open files has been reached.");
    add(EMFILE, "Too many open files. The process has reached its limit of open descriptors.");
    add(ENOMEM, "Not enough memory. The system could not allocate the memory the operation needs.");
    add(EPIPE, "Broken pipe. The connection was shut down for sending, or the peer has closed it.");
    add(EAGAIN,
        "Resource temporarily unavailable. A non-blocking socket operation could not be completed "
        "immediately.");
    add(EINPROGRESS, "Operation now in progress. A blocking operation is currently executing.");
    add(EALREADY,
        "Operation already in progress. An operation was attempted on a non-blocking socket that "
        "already had an operation in progress.");
    add(ENOTSOCK,
        "Socket operation on nonsocket. An operation was attempted on something that is not a "
        "socket.");
    add(EDESTADDRREQ,
        "Destination address required. A required address was omitted from an operation on a "
        "socket.");
    add(EMSGSIZE,
        "Message too long. A message sent on a datagram socket was larger than the internal "
        "message buffer or some other network limit, or the buffer used to receive a datagram was "
        "smaller than the datagram itself.");
    add(EPROTOTYPE,
        "Protocol wrong type for socket. A protocol was specified in the socket function call that "
        "does not support the semantics of the socket type requested.");
    add(ENOPROTOOPT,
        "Bad protocol option. An unknown, invalid, or unsupported option or level was specified in "
        "a getsockopt or setsockopt call.");
    add(EPROTONOSUPPORT,
        "Protocol not supported. The requested protocol has not been configured into the system, "
        "or no implementation for it exists.");
    add(ESOCKTNOSUPPORT,
        "Socket type not supported. The support for the specified socket type does not exist in "
        "this address family.");
    add(EOPNOTSUPP,
        "Operation not supported. The attempted operation is not supported for the type of object "
        "referenced.");
    add(EPFNOSUPPORT,
        "Protocol family not supported. The protocol family has not been configured into the "
        "system or no implementation for it exists.");
    add(EAFNOSUPPORT,
        "Address family not supported by protocol family. An address incompatible with the "
        "requested protocol was used.");
    add(ELOOP, "Too many levels of symbolic links. A name could not be translated.");
    add(ENAMETOOLONG, "Name too long. A name component or a name was too long.");
}

// Codes about addresses, routes and the state of a connection.
void SocketErrors::addConnectionErrors() {
    add(EADDRINUSE,
        "Address already in use. Only one usage of each socket address (protocol/IP address/port) "
        "is normally permitted.");
    add(EADDRNOTAVAIL,
        "Cannot assign requested address. The requested address is not valid in its context.");
    add(ENETDOWN, "Network is down. A socket operation encountered a dead network.");
    add(ENETUNREACH,
        "Network is unreachable. A socket operation was attempted to an unreachable network.");
    add(ENETRESET,
        "Network dropped connection on reset. The connection has been broken due to keep-alive "
        "activity detecting a failure while the operation was in progress.");
    add(ECONNABORTED,
        "Software caused connection abort. An established connection was aborted by the software "
        "in your host machine.");
    add(ECONNRESET,
        "Connection reset by peer. An existing connection was forcibly closed by the remote host.");
    add(ENOBUFS,
        "No buffer space available. An operation on a socket could not be performed because the "
        "system lacked sufficient buffer space or because a queue was full.");
    add(EISCONN,
        "Socket is already connected. A connect request was made on an already connected socket.");
    add(ENOTCONN,
        "Socket is not connected. A request to send or receive data was disallowed because the "
        "socket is not connected.");
    add(ESHUTDOWN,
        "Cannot send after socket shutdown. A request to send or receive data was disallowed "
        "because the socket had already been shut down in that direction with a previous shutdown "
        "call.");
    add(ETOOMANYREFS, "Too many references. Too many references to some kernel object.");
    add(ETIMEDOUT,
        "Connection timed out. A connection attempt failed because the connected party did not "
        "properly respond after a period of time, or an established connection failed because the "
        "connected host has failed to respond.");
    add(ECONNREFUSED,
        "Connection refused. No connection could be made because the target machine actively "
        "refused it.");
    add(EHOSTDOWN,
        "Host is down. A socket operation failed because the destination host was down.");
    add(EHOSTUNREACH, "No route to host. A socket operation was attempted to an unreachable host.");
    add(EUSERS, "Too many users. There are too many users of the system.");
    add(EDQUOT, "Disk quota exceeded. The user's disk quota was exceeded.");
    add(ESTALE, "Stale file handle. The handle refers to an object that is no longer available.");
    add(EREMOTE, "Object is remote. The item is not available locally.");
}

// getaddrinfo answers with these instead of errno (EAI_SYSTEM means: see errno).
void SocketErrors::addNameLookupErrors() {
    add(EAI_BADFLAGS, "Bad flags. The flags given to the name lookup are not valid.");
    add(EAI_NONAME,
        "Host not found. No such host is known: the name is not an official host name or alias, or "
        "it cannot be found in the databases being queried.");
    add(EAI_AGAIN,
        "Nonauthoritative host not found. This is usually a temporary error during host name "
        "resolution and means that the local server did not receive a response from an "
        "authoritative server.");
    add(EAI_FAIL,
        "This is a nonrecoverable error. A nonrecoverable failure occurred during the name "
        "lookup.");
    add(EAI_NODATA,
        "Valid name, no data record of requested type. The requested name is valid and was found "
        "in the database, but it does not have the correct associated data being resolved for.");
    add(EAI_FAMILY,
        "Address family not supported. The name lookup does not support the requested address "
        "family.");
    add(EAI_SOCKTYPE,
        "Socket type not supported. The name lookup does not support the requested socket type.");
    add(EAI_SERVICE, "Service not found. No such service is known for the requested socket type.");
    add(EAI_ADDRFAMILY,
        "No address in family. The host has no address in the requested address family.");
    add(EAI_MEMORY, "Not enough memory. The name lookup could not allocate the memory it needs.");
    add(EAI_OVERFLOW, "Argument buffer overflow. A buffer given to the name lookup was too small.");
}

}  // namespace posix::net
