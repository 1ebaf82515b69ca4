#pragma once

// The server as the body of a systemd service. Start-up derives from it and supplies run(); a
// ServiceDispatcher then calls serviceMain on its service thread and controlHandler on its own
// thread:
//
//   posix::services::ServiceDispatcherImpl dispatcher;
//   dispatcher.run(&startup);  // returns when the service has stopped
//
// serviceMain reports start pending, then running (accepting stop), calls run() and reports
// stopped; a ServiceException on the way is logged and reported as stopped with exit code
// 987654. The stop control logs, reports stop pending and sets the stop event that run() waits
// for; interrogate logs and reports the last status again; other controls are not implemented.

#include <string>

#include "platform/event/Event.h"
#include "posix/services/ServiceMain.h"
#include "server/Log.h"

namespace norvale::quillmark {

class ServerService : public posix::services::ServiceMain {
public:
    // The exit code reported when the service body failed.
    static constexpr unsigned long FailureExitCode = 987654;

    // The product name.
    std::string serviceName() const override;
    void serviceMain(int argc, char** argv) override;
    unsigned long controlHandler(unsigned long control, unsigned long eventType,
                                 void* eventData) override;

    // Runs the server; returns once the stop event is set.
    virtual int run() = 0;

    // The process's exit status once serviceMain has returned: run()'s, or 1 when the service
    // body failed, so that the service manager sees a start-up that failed as a failure.
    int exitStatus() const { return _exitStatus; }

protected:
    // Neither pointer is owned, and neither is used before serviceMain is called, so a subclass
    // may pass its own members.
    ServerService(Log* log, platform::event::Event* stopEvent);

private:
    // Reports a status from the control handler, where a failure must not stop the handling.
    template <typename Report>
    void tryReport(Report report);

    Log* _serviceLog;
    platform::event::Event* _stopEvent;
    int _exitStatus = 0;
};

}  // namespace norvale::quillmark
