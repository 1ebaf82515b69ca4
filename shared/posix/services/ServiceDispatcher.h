#pragma once

// Runs a process as the body of a service. Called once, from the main thread, before any other
// thread of the process has been started.

#include "posix/services/ServiceMain.h"

namespace posix::services {

class ServiceDispatcher {
public:
    virtual ~ServiceDispatcher() = default;

    // Runs `service` and returns when its serviceMain has returned. Throws
    // ServiceDispatcherException when the process was not started by the service manager.
    virtual void run(ServiceMain* service) = 0;
};

}  // namespace posix::services
