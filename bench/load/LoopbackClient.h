#pragma once

// One client of the product's protocol over 127.0.0.1: every exchange is a fresh connection
// that sends one request, shuts down its sending side and reads the answer to the end of the
// stream. Holds only the port, so any number of threads may share one.

#include <cstdint>
#include <string>

#include "exceptions/Exception.h"

namespace bench::load {

class LoopbackClientException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port) : _port(port) {}

    // The whole answer; throws LoopbackClientException naming the failed system call.
    std::string exchange(const std::string& request) const;
    // True when a connection to the port is accepted (the server listens).
    bool accepts() const;

    std::uint16_t port() const { return _port; }

private:
    std::uint16_t _port;
};

}  // namespace bench::load
