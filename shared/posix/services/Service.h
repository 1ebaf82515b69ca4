#pragma once

// One registered service, open for the operations below (a systemd unit). Obtained from an
// SCManager; used by one thread. Every failure throws ServiceException. An operation after
// close() is a broken invariant and reported as an assertion.

#include "posix/services/ServiceExceptions.h"

namespace posix::services {

class Service {
public:
    // Releases the handle quietly if close() was not called.
    virtual ~Service() = default;

    virtual void close() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // A null description is refused.
    virtual void setDescription(const char* description) = 0;
    // Unregisters the service; a running instance keeps running until it is stopped.
    virtual void remove() = 0;
};

}  // namespace posix::services
