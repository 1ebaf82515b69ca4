#include "posix/services/ServiceDispatcherImpl.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::services {

namespace {

const char* const Opening =
    "Could not start service dispatcher using 'StartServiceCtrlDispatcher'. ";

// Blocks the control signals for the calling thread and the threads it starts; restores the
// previous mask when it goes out of scope, after dropping controls that arrived too late.
class ControlSignals {
public:
    ControlSignals() {
        sigemptyset(&_controls);
        sigaddset(&_controls, SIGTERM);
        sigaddset(&_controls, SIGUSR1);
        const int failed = ::pthread_sigmask(SIG_BLOCK, &_controls, &_previous);
        if (failed != 0) {
            throw ServiceDispatcherException(Opening +
                                             platform::errorresources::systemErrorText(failed));
        }
    }
    ~ControlSignals() {
        const timespec none{0, 0};
        while (::sigtimedwait(&_controls, nullptr, &none) > 0) {
        }
        ::pthread_sigmask(SIG_SETMASK, &_previous, nullptr);
    }
    ControlSignals(const ControlSignals&) = delete;
    ControlSignals& operator=(const ControlSignals&) = delete;

    // The next control signal within `timeout`, or 0.
    int next(std::chrono::milliseconds timeout) const {
        const timespec wait{0, static_cast<long>(timeout.count()) * 1000000L};
        const int signal = ::sigtimedwait(&_controls, nullptr, &wait);
        return signal > 0 ? signal : 0;
    }

private:
    sigset_t _controls;
    sigset_t _previous;
};

}  // namespace

void ServiceDispatcherImpl::run(ServiceMain* service) {
    const char* invocation = std::getenv("INVOCATION_ID");
    if (invocation == nullptr || *invocation == '\0') {
        throw ServiceDispatcherException(std::string(Opening) +
                                         "The process was not started by systemd "
                                         "(INVOCATION_ID is not set).");
    }
    const ControlSignals signals;

    std::atomic<bool> stopped{false};
    std::exception_ptr failure;         // written by the service thread before `stopped`
    std::exception_ptr handlerFailure;  // of the calling thread
    std::string name = service->serviceName();
    std::thread body([&] {
        try {
            char* argv[] = {name.data(), nullptr};
            service->serviceMain(1, argv);
        } catch (...) {
            failure = std::current_exception();
        }
        stopped.store(true);
    });

    while (!stopped.load()) {
        // Controls wait (pending) until the service can take them.
        if (!service->handlerRegistered()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const int signal = signals.next(std::chrono::milliseconds(50));
        try {
            if (signal == SIGTERM) service->controlHandler(control::Stop, 0, nullptr);
            if (signal == SIGUSR1) service->controlHandler(control::Interrogate, 0, nullptr);
        } catch (...) {
            // The service thread must be joined first; the failure is raised after it.
            if (!handlerFailure) handlerFailure = std::current_exception();
        }
    }
    body.join();
    if (failure) std::rethrow_exception(failure);
    if (handlerFailure) std::rethrow_exception(handlerFailure);
}

}  // namespace posix::services
