#include "net/socket/SocketStreamImpl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "debug/assertion.h"
#include "net/socket/SocketExceptions.h"
#include "platform/errorresources/SystemErrorText.h"

namespace net::socket {

namespace {

const char* const EndTexts[] = {"Trying to close the RECEIVE end.", "Trying to close the SEND end.",
                                "Trying to close both ends."};

// The buffer read so far as a zero-terminated text contains match.
bool containsMatch(const char* buffer, std::uint32_t bufferSize, const char* match) {
    const std::string_view text(buffer, ::strnlen(buffer, bufferSize));
    return text.find(match) != std::string_view::npos;
}

using GetName = int (*)(int, sockaddr*, socklen_t*);

// getpeername / getsockname and the dotted text; errno tells which step failed (0: conversion).
bool dottedName(int descriptor, GetName getName, std::string& text, bool& callFailed) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    callFailed = getName(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0;
    if (callFailed) return false;
    char dotted[INET_ADDRSTRLEN];
    if (address.sin_family != AF_INET ||
        ::inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted) == nullptr) {
        if (address.sin_family != AF_INET) errno = EAFNOSUPPORT;
        return false;
    }
    text = dotted;
    return true;
}

}  // namespace

SocketStreamImpl::SocketStreamImpl(int descriptor,
                                   const platform::errorresources::ErrorMapper* errors) noexcept
    : _descriptor(descriptor), _closer(descriptor), _errors(errors) {}

std::string SocketStreamImpl::detail(int code) const {
    return "Detailed information\nSocket fd: " + std::to_string(_descriptor) + "\n" +
           "socketCloser fd: " + std::to_string(_closer.descriptor()) + "\n" +
           platform::errorresources::systemErrorText(code, _errors);
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
        throw ReadException(
            "Error reading data from the socket. Failed using the 'recv' system call. " +
            detail(code));
    }
    return static_cast<int>(received);
}

void SocketStreamImpl::read(char* buffer, std::uint32_t n) {
    std::uint32_t done = 0;
    while (done < n) {
        const int rbytes = readSome(buffer + done, n - done);
        if (rbytes == 0) {
            throw UnexpectedEofException(
                "Unexpected end of file reached when read data from socket. " + detail(0));
        }
        QM_ASSERT(rbytes > 0, "A receive gave a negative count.");
        done += static_cast<std::uint32_t>(rbytes);
    }
}

int SocketStreamImpl::readUntil(char* buffer, std::uint32_t bufferSize, const char* match) {
    // A buffer under two bytes has no room for one byte read plus the terminating zero.
    if (buffer == nullptr || match == nullptr || bufferSize > MaxSize || bufferSize < 2 ||
        std::strlen(match) > bufferSize) {
        throw PreconditionException("Precondition error in 'readUntil'.");
    }
    std::memset(buffer, 0, bufferSize);
    int got = readSome(buffer, 1);
    if (containsMatch(buffer, bufferSize, match)) return 1;
    for (std::uint32_t i = 0;; ++i) {
        if (got == 0) {
            throw ReadException(
                "Error reading from socket. Could not find the match string in the stream.  " +
                detail(0));
        }
        if (i + 2 == bufferSize) throw ReadException("Buffer about to overflow. " + detail(0));
        got = readSome(buffer + i + 1, 1);
        if (containsMatch(buffer, bufferSize, match)) return static_cast<int>(i + 2);
    }
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
            throw WriteException(
                "Could not write data on the socket. Failed using the send system call. " +
                detail(code));
        }
        sent += static_cast<std::uint32_t>(ret);
    }
}

std::string SocketStreamImpl::getPeerName() {
    std::string text;
    bool callFailed = false;
    if (dottedName(openDescriptor(), ::getpeername, text, callFailed)) return text;
    const int code = errno;
    if (callFailed) {
        throw GeneralException("Error getting peer name using 'getpeername'. " + detail(code));
    }
    throw GeneralException("Error converting remote name to an IP address using 'inet_ntoa'. " +
                           detail(code));
}

std::string SocketStreamImpl::getLocalName() {
    std::string text;
    bool callFailed = false;
    if (dottedName(openDescriptor(), ::getsockname, text, callFailed)) return text;
    const int code = errno;
    if (callFailed) {
        throw GeneralException(
            "Error getting local name for the socket when using 'getsockname'. " + detail(code));
    }
    throw GeneralException("Error convering local name to the IP address when using 'inet_ntoa'. " +
                           detail(code));
}

bool SocketStreamImpl::waitReadable(int timeoutMs) {
    const int ready = pollReadable(timeoutMs);
    if (ready < 0) {
        const int code = errno;
        throw ReadException(
            "Error waiting for data on the socket. Failed using the 'poll' system call. " +
            detail(code));
    }
    return ready > 0;
}

// poll, restarted with the time that is left when a signal interrupts it; errno is set when the
// result is negative.
int SocketStreamImpl::pollReadable(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entry{openDescriptor(), POLLIN, 0};
    // poll skips negative descriptors instead of failing, which would turn a closed stream
    // into a time-out.
    if (entry.fd < 0) {
        errno = EBADF;
        return -1;
    }
    int remaining = timeoutMs;
    for (;;) {
        const int ready = ::poll(&entry, 1, remaining);
        if (ready >= 0 || errno != EINTR) {
            if (ready > 0 && (entry.revents & POLLNVAL) != 0) {
                errno = EBADF;
                return -1;
            }
            return ready;
        }
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            remaining = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

}  // namespace net::socket
