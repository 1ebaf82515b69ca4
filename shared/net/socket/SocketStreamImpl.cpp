#include "net/socket/SocketStreamImpl.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "debug/assertion.h"
#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

namespace {

const char* const EndTexts[] = {"Trying to close the RECEIVE end.", "Trying to close the SEND end.",
                                "Trying to close both ends."};

}  // namespace

SocketStreamImpl::SocketStreamImpl(int descriptor,
                                   const platform::errorresources::ErrorMapper* errors) noexcept
    : _descriptor(descriptor), _closer(descriptor), _errors(errors) {}

std::string SocketStreamImpl::detail(int code) const {
    return "Detailed information\nSocket fd: " + std::to_string(_descriptor) + "\n" +
           "socketCloser fd: " + std::to_string(_closer.descriptor()) + "\n" +
           platform::errorresources::systemErrorText(code, _errors);
}

// SO_RCVTIMEO and SO_SNDTIMEO end a blocking receive or send that moved no byte in time with
// EAGAIN (a send that moved some returns their count, and the loop goes on).
void SocketStreamImpl::setTimeout(std::uint32_t milliseconds) {
    const timeval limit{static_cast<time_t>(milliseconds / 1000),
                        static_cast<suseconds_t>(milliseconds % 1000 * 1000)};
    for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
        if (::setsockopt(openDescriptor(), SOL_SOCKET, option, &limit, sizeof limit) != 0) {
            const int code = errno;
            throw ChangeStateException("Failed to set the time limit of the socket. " +
                                       detail(code));
        }
    }
    _timed = milliseconds > 0;
}

void SocketStreamImpl::shutdown(int end) {
    QM_ASSERT(end >= Receive && end <= Both, "Unknown end of the socket to shut down.");
    static_assert(SHUT_RD == Receive && SHUT_WR == Send && SHUT_RDWR == Both);
    if (::shutdown(openDescriptor(), end) != 0) {
        const int code = errno;
        throw CloseException(
            std::string("Failed to shut down the socket with the shutdown call. ") + EndTexts[end] +
            " " + detail(code));
    }
}

void SocketStreamImpl::close() {
    _closer.close();
}

int SocketStreamImpl::readSome(char* buffer, std::uint32_t n) {
    if (n > MaxSize) {
        throw PreconditionException(
            "Cannot read an amount of data with that size. The data size must be between 0 and " +
            std::to_string(MaxSize));
    }
    ssize_t received;
    do {
        received = ::recv(openDescriptor(), buffer, n, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        const int code = errno;
        if (timedOut(code)) throw TimeoutException("Nothing received in time. " + detail(code));
        throw ReadException(
            "Error reading data from the socket. Failed using the 'recv' system call. " +
            detail(code));
    }
    return static_cast<int>(received);
}

void SocketStreamImpl::write(const char* buffer, std::uint32_t n) {
    if (n > MaxSize) {
        throw PreconditionException(
            "Cannot send an amount of data with that size. The data size must be between 0 and " +
            std::to_string(MaxSize));
    }
    // A blocking send returns short only when a signal interrupted it after some bytes went out.
    std::uint32_t sent = 0;
    while (sent < n) {
        const ssize_t ret = ::send(openDescriptor(), buffer + sent, n - sent, MSG_NOSIGNAL);
        if (ret < 0 && errno == EINTR) continue;
        if (ret < 0) {
            const int code = errno;
            if (timedOut(code)) throw TimeoutException("Nothing sent in time. " + detail(code));
            throw WriteException(
                "Could not write data on the socket. Failed using the send system call. " +
                detail(code));
        }
        sent += static_cast<std::uint32_t>(ret);
    }
}

}  // namespace net::socket
