#pragma once

// The four command-line actions on the installed system service. Each acts at once and throws
// an exception of the service layer when it cannot (not installed, already installed, the
// service manager refused). Called by start-up on the main thread.

#include <string>

namespace norvale::quillmark {

class ServiceControl {
public:
    virtual ~ServiceControl() = default;

    // `configPath` exactly as typed after "-config"; the service is started with it.
    virtual void install(const std::string& configPath) = 0;
    virtual void uninstall() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
};

}  // namespace norvale::quillmark
