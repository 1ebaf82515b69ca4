#pragma once

#include <string>

namespace net::server {

// Where the event server tells about its own conditions: accept failures and the connections it
// refused because too many were open. Called by one thread at a time; not owned.
class EventServerLog {
public:
    virtual ~EventServerLog() = default;

    virtual void report(const std::string& text) = 0;
};

}  // namespace net::server
