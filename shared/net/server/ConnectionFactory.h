#pragma once

#include <cstdint>
#include <memory>

#include "net/server/Connection.h"

namespace net::server {

// Makes the connection state of each accepted client; called by one thread at a time.
class ConnectionFactory {
public:
    virtual ~ConnectionFactory() = default;

    // id numbers the accepted clients from 1.
    virtual std::unique_ptr<Connection> create(std::uint32_t id) const = 0;
};

}  // namespace net::server
