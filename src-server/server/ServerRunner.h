#pragma once

// Runs the server proper for start-up: loads the configuration, builds request processing and
// the network server, serves until the stop event is set (in test mode it runs the system tests
// first), then closes everything. Called once, on the main thread (or the service thread);
// failures are thrown and reported by start-up.

#include <string>

#include "platform/event/Event.h"
#include "server/TerminateHandler.h"

namespace norvale::quillmark {

struct ServerRunSettings {
    std::string configPath;
    bool testMode = false;
    bool serviceMode = false;
    // Not empty: the classifier files of this folder are copied into the configured database
    // instead of serving.
    std::string importFolder;
};

class ServerRunner {
public:
    virtual ~ServerRunner() = default;

    // `stopEvent` ends the serving; test mode has set it before the call. `terminateHandler` is
    // the process's, installed by start-up; connection threads install it too. Neither is owned.
    virtual void runServer(const ServerRunSettings& settings, platform::event::Event* stopEvent,
                           TerminateHandler* terminateHandler) = 0;
};

}  // namespace norvale::quillmark
