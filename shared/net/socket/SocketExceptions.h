#pragma once

#include "io/IOException.h"

namespace net::socket {

// Every failure of the socket layer. The message names the system call that failed and ends with
// a block of detail about the socket and the system error text.
class SocketException : public io::IOException {
public:
    using io::IOException::IOException;
};

class ChangeStateException : public SocketException {
public:
    using SocketException::SocketException;
};

class CloseException : public SocketException {
public:
    using SocketException::SocketException;
};

class ConnectException : public SocketException {
public:
    using SocketException::SocketException;
};

class InitException : public SocketException {
public:
    using SocketException::SocketException;
};

// Thrown by the thread server when its port already answers on the loopback address.
class PortAlreadyInUseException : public SocketException {
public:
    using SocketException::SocketException;
};

class PreconditionException : public SocketException {
public:
    using SocketException::SocketException;
};

class ReadException : public SocketException {
public:
    using SocketException::SocketException;
};

class WriteException : public SocketException {
public:
    using SocketException::SocketException;
};

// A read or send on a stream with a time limit (SocketStream::setTimeout) moved no byte within it.
class TimeoutException : public SocketException {
public:
    using SocketException::SocketException;
};

}  // namespace net::socket
