#pragma once

// The body of a service, run by a ServiceDispatcher, and its link to the service manager.
//
// A subclass implements serviceMain (runs on the dispatcher's service thread until the service
// has stopped) and controlHandler (called by the dispatcher's own thread for each control once
// registerHandler() has been called). This base keeps the last reported status and sends status
// reports to systemd's notification socket ($NOTIFY_SOCKET): running is "READY=1", stop pending
// "STOPPING=1", and every report carries a "STATUS=" line. setStatus and reportStatus may be
// called from both threads.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "io/filesystem/FileDescriptor.h"
#include "posix/services/ServiceExceptions.h"

namespace posix::services {

// Service states.
namespace state {
constexpr unsigned long Stopped = 1;
constexpr unsigned long StartPending = 2;
constexpr unsigned long StopPending = 3;
constexpr unsigned long Running = 4;
}  // namespace state

// Controls: what controlHandler receives, and the mask of accepted controls.
namespace control {
constexpr unsigned long Stop = 1;         // SIGTERM
constexpr unsigned long Interrogate = 4;  // SIGUSR1
constexpr unsigned long AcceptStop = 1;
}  // namespace control

// Results of controlHandler.
constexpr unsigned long NoError = 0;
constexpr unsigned long CallNotImplemented = 120;

struct ServiceStatus {
    unsigned long currentState = state::Stopped;
    unsigned long controlsAccepted = 0;
    unsigned long exitCode = 0;
    unsigned long checkPoint = 0;
    unsigned long waitHint = 0;
};

class ServiceMain {
public:
    virtual ~ServiceMain();

    virtual std::string serviceName() const = 0;
    virtual void serviceMain(int argc, char** argv) = 0;
    virtual unsigned long controlHandler(unsigned long control, unsigned long eventType,
                                         void* eventData) = 0;

    // Stores the status and reports it. Throws ServiceMainException when it cannot be sent.
    void setStatus(unsigned long currentState, unsigned long controlsAccepted,
                   unsigned long exitCode, unsigned long checkPoint, unsigned long waitHint);
    // Reports the stored status again.
    void reportStatus();
    ServiceStatus status() const;

    // Connects to the notification socket; from then on the dispatcher delivers controls.
    // Throws ServiceMainException.
    void registerHandler();
    bool handlerRegistered() const { return _registered.load(); }

protected:
    ServiceMain() = default;

private:
    void send(const ServiceStatus& status);

    mutable std::mutex _guard;  // guards _status and the order of reports on _notify
    ServiceStatus _status;
    std::optional<io::filesystem::FileDescriptor> _notify;  // connected once registered
    std::atomic<bool> _registered{false};
};

}  // namespace posix::services
