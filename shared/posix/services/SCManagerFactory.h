#pragma once

// Opens the service manager. Created once at start-up and shared by pointer; any thread.

#include <memory>
#include <string>

#include "posix/services/SCManager.h"

namespace posix::services {

class SCManagerFactory {
public:
    virtual ~SCManagerFactory() = default;

    // `host` is empty for this machine. Throws SCManagerException.
    virtual std::unique_ptr<SCManager> open(const std::string& host) const = 0;
};

}  // namespace posix::services
