#include "posix/services/ServiceActions.h"

namespace posix::services {

ServiceActions::ServiceActions(const SCManagerFactory* managers, const file::Module* executable,
                               std::string name, std::string description)
    : _managers(managers),
      _executable(executable),
      _name(std::move(name)),
      _description(std::move(description)) {}

void ServiceActions::install(const std::string& configPath) const {
    const std::unique_ptr<SCManager> manager = _managers->open("");
    if (isInstalled(*manager)) {
        throw ServiceAlreadyExistsException("The service with the name '" + _name +
                                            "' is already installed.");
    }
    const std::string commandLine = _executable->fileName() + " -scm -config " + configPath;
    const std::unique_ptr<Service> service = manager->createService(_name, _name, commandLine);
    service->setDescription(_description.c_str());
    service->close();
    manager->close();
}

void ServiceActions::uninstall() const {
    const std::unique_ptr<SCManager> manager = _managers->open("");
    const std::unique_ptr<Service> service = openInstalled(*manager);
    service->remove();
    service->close();
    manager->close();
}

void ServiceActions::start() const {
    const std::unique_ptr<SCManager> manager = _managers->open("");
    const std::unique_ptr<Service> service = openInstalled(*manager);
    service->start();
    service->close();
    manager->close();
}

void ServiceActions::stop() const {
    const std::unique_ptr<SCManager> manager = _managers->open("");
    const std::unique_ptr<Service> service = openInstalled(*manager);
    service->stop();
    service->close();
    manager->close();
}

bool ServiceActions::isInstalled(SCManager& manager) const {
    try {
        manager.openService(_name)->close();
        return true;
    } catch (const ServiceDoesNotExistsException&) {
        return false;
    }
}

std::unique_ptr<Service> ServiceActions::openInstalled(SCManager& manager) const {
    if (!isInstalled(manager)) {
        throw ServiceDoesNotExistsException("The service with the name '" + _name +
                                            "' is not installed.");
    }
    return manager.openService(_name);
}

}  // namespace posix::services
