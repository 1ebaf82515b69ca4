#pragma once

// The four command-line actions on the server's own service: install, uninstall, start, stop.
// Each opens the service manager of this machine and closes every handle it opened before it
// returns, also when it fails. Failures throw the ServiceException family; a service that is
// (not) installed is reported with ServiceAlreadyExistsException (ServiceDoesNotExistsException)
// and a message naming it. Used by start-up on the main thread.

#include <string>

#include "posix/file/Module.h"
#include "posix/services/SCManagerFactory.h"

namespace posix::services {

class ServiceActions {
public:
    // None of the pointers is owned. `name` is the service and display name, `executable` names
    // the program the service runs.
    ServiceActions(const SCManagerFactory* managers, const file::Module* executable,
                   std::string name, std::string description);

    // Registers executable + " -scm -config " + `configPath` (exactly as given) to start at boot.
    void install(const std::string& configPath) const;
    void uninstall() const;
    void start() const;
    void stop() const;

    // Installed means the service manager knows the service.
    bool isInstalled(SCManager& manager) const;

private:
    std::unique_ptr<Service> openInstalled(SCManager& manager) const;

    const SCManagerFactory* _managers;
    const file::Module* _executable;
    const std::string _name;
    const std::string _description;
};

}  // namespace posix::services
