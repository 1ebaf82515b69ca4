#include "posix/services/ServiceActions.h"

namespace posix::services {

namespace {

// A word of the unit's command line as systemd reads it back: quoted when it holds a blank, a
// quote or a backslash, with '%' and '$' doubled, which systemd would otherwise expand.
std::string unitWord(const std::string& word) {
    std::string out;
    bool quoted = word.empty();
    for (const char c : word) {
        if (c == '%' || c == '$') out += c;
        if (c == '"' || c == '\\') out += '\\';
        quoted |= c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\';
        out += c;
    }
    return quoted ? '"' + out + '"' : out;
}

}  // namespace

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
    const std::string commandLine =
        unitWord(_executable->fileName()) + " -scm -config " + unitWord(configPath);
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
