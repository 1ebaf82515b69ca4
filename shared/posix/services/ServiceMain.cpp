#include "posix/services/ServiceMain.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::services {

namespace {

using platform::errorresources::lastSystemErrorText;
using platform::errorresources::systemErrorText;

std::string notification(const ServiceStatus& status) {
    switch (status.currentState) {
        case state::StartPending:
            return "STATUS=Starting";
        case state::Running:
            return "READY=1\nSTATUS=Running";
        case state::StopPending:
            return "STOPPING=1\nSTATUS=Stopping";
        case state::Stopped:
            if (status.exitCode != 0) {
                return "STATUS=Stopped with exit code " + std::to_string(status.exitCode);
            }
            return "STATUS=Stopped";
        default:
            return "STATUS=State " + std::to_string(status.currentState);
    }
}

}  // namespace

ServiceMain::~ServiceMain() = default;

void ServiceMain::setStatus(unsigned long currentState, unsigned long controlsAccepted,
                            unsigned long exitCode, unsigned long checkPoint,
                            unsigned long waitHint) {
    std::lock_guard<std::mutex> lock(_guard);
    _status = {currentState, controlsAccepted, exitCode, checkPoint, waitHint};
    send(_status);
}

void ServiceMain::reportStatus() {
    std::lock_guard<std::mutex> lock(_guard);
    send(_status);
}

ServiceStatus ServiceMain::status() const {
    std::lock_guard<std::mutex> lock(_guard);
    return _status;
}

void ServiceMain::registerHandler() {
    static const std::string opening =
        "Failed registering a service control handler using 'RegisterServiceCtrlHandlerEx'. ";
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || *path == '\0') {
        throw ServiceMainException(opening + "The environment variable NOTIFY_SOCKET is not set.");
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof address.sun_path) {
        throw ServiceMainException(opening + systemErrorText(ENAMETOOLONG));
    }
    std::memcpy(address.sun_path, path, length);
    // A leading '@' names a socket in the abstract namespace.
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);

    std::lock_guard<std::mutex> lock(_guard);
    _notify.reset();
    const int descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) throw ServiceMainException(opening + lastSystemErrorText());
    _notify.emplace(descriptor);
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const std::string text = lastSystemErrorText();
        _notify.reset();
        throw ServiceMainException(opening + text);
    }
    _registered.store(true);
}

void ServiceMain::send(const ServiceStatus& status) {
    static const std::string opening = "Failed setting service status using 'SetServiceStatus'. ";
    if (!_notify) {
        throw ServiceMainException(opening + systemErrorText(ENOTCONN));
    }
    const std::string text = notification(status);
    ssize_t sent = 0;
    do {
        sent = ::send(_notify->get(), text.data(), text.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) throw ServiceMainException(opening + lastSystemErrorText());
}

}  // namespace posix::services
