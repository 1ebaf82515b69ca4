#include "server/ServerService.h"

#include "server/Product.h"

namespace norvale::quillmark {

namespace services = posix::services;

namespace {
const char* const ServiceFailure = "An error occured when trying to run the service. ";
}  // namespace

ServerService::ServerService(Log* log, platform::event::Event* stopEvent)
    : _serviceLog(log), _stopEvent(stopEvent) {}

std::string ServerService::serviceName() const {
    return product::Name;
}

void ServerService::serviceMain(int, char**) {
    try {
        registerHandler();
        setStatus(services::state::StartPending, 0, 0, 0, 1000);
        setStatus(services::state::Running, services::control::AcceptStop, 0, 0, 0);
        _exitStatus = run();
        setStatus(services::state::Stopped, 0, 0, 0, 0);
    } catch (const services::ServiceException& e) {
        _exitStatus = 1;
        try {
            setStatus(services::state::Stopped, 0, FailureExitCode, 0, 0);
        } catch (const services::ServiceException&) {
            // The manager cannot be told; it sees the process end.
        }
        _serviceLog->log(std::string(ServiceFailure) + e.what());
    }
}

unsigned long ServerService::controlHandler(unsigned long control, unsigned long, void*) {
    switch (control) {
        case services::control::Stop:
            _serviceLog->log("Stopping the service from SCM.");
            tryReport([this] { setStatus(services::state::StopPending, 0, 0, 0, 0); });
            _stopEvent->set();
            return services::NoError;
        case services::control::Interrogate:
            _serviceLog->log("Interrogate the service from SCM.");
            tryReport([this] { reportStatus(); });
            return services::NoError;
        default:
            return services::CallNotImplemented;
    }
}

template <typename Report>
void ServerService::tryReport(Report report) {
    try {
        report();
    } catch (const services::ServiceException& e) {
        _serviceLog->log(std::string(ServiceFailure) + e.what());
    }
}

}  // namespace norvale::quillmark
