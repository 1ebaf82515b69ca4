#pragma once

#include "posix/services/ServiceDispatcher.h"

namespace posix::services {

// The dispatcher for systemd. It refuses to run unless systemd started the process
// ($INVOCATION_ID set). It blocks SIGTERM and SIGUSR1 for every thread, runs serviceMain on a
// service thread (argument vector: the service name), and on the calling thread turns SIGTERM
// into the stop control and SIGUSR1 into the interrogate control, delivered to controlHandler
// once the service has registered its handler. Signals still pending when the service has
// stopped are dropped, and the signal mask is restored.
class ServiceDispatcherImpl : public ServiceDispatcher {
public:
    void run(ServiceMain* service) override;
};

}  // namespace posix::services
