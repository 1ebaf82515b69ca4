#pragma once

#include "posix/services/ServiceActions.h"
#include "server/ServiceControl.h"

namespace norvale::quillmark {

// The service actions of start-up carried out on the system's service manager.
class SystemServiceControl : public ServiceControl {
public:
    // `actions` is not owned and must outlive this object.
    explicit SystemServiceControl(const posix::services::ServiceActions* actions)
        : _actions(actions) {}

    void install(const std::string& configPath) override { _actions->install(configPath); }
    void uninstall() override { _actions->uninstall(); }
    void start() override { _actions->start(); }
    void stop() override { _actions->stop(); }

private:
    const posix::services::ServiceActions* _actions;
};

}  // namespace norvale::quillmark
