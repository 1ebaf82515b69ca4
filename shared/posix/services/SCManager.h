#pragma once

// The service manager of this machine, open for registering and finding services. Obtained from
// an SCManagerFactory; used by one thread. Failures throw the ServiceException family.

#include <memory>
#include <string>

#include "posix/services/Service.h"

namespace posix::services {

class SCManager {
public:
    // Releases the handle quietly if close() was not called.
    virtual ~SCManager() = default;

    // Throws SCManagerException.
    virtual void close() = 0;
    // ServiceDoesNotExistsException when no service of that name is registered.
    virtual std::unique_ptr<Service> openService(const std::string& name) = 0;
    // Registers a service started at boot that runs `commandLine`; ServiceAlreadyExistsException
    // when one of that name is registered already.
    virtual std::unique_ptr<Service> createService(const std::string& name,
                                                   const std::string& displayName,
                                                   const std::string& commandLine) = 0;
};

}  // namespace posix::services
