#include "posix/services/ServiceDispatcherImpl.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "posix/services/ServiceMain.h"
#include "posix/services/ServiceTestSupport.h"

namespace {

using io::filesystem::test::TempFolder;
using namespace posix::services::test;
using namespace posix::services;

bool blockedHere(int signal) {
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// Runs `body` as its service main and records how it was called.
class ScriptedService : public ServiceMain {
public:
    explicit ScriptedService(std::function<void(ScriptedService&)> body) : _body(std::move(body)) {}

    std::string serviceName() const override { return "Scripted Service"; }
    void serviceMain(int argc, char** argv) override {
        arguments.assign(argv, argv + argc);
        serviceThread = std::this_thread::get_id();
        termBlocked = blockedHere(SIGTERM) && blockedHere(SIGUSR1);
        _body(*this);
    }
    unsigned long controlHandler(unsigned long control, unsigned long, void*) override {
        controls.push_back(control);
        if (onControl) onControl();
        return NoError;
    }

    std::vector<std::string> arguments;
    std::thread::id serviceThread;
    bool termBlocked = false;
    std::vector<unsigned long> controls;  // only touched by the dispatcher's thread
    std::function<void()> onControl;

private:
    std::function<void(ScriptedService&)> _body;
};

// Outside systemd nothing runs; inside, the body runs on a thread of its own with the control
// signals blocked there only. A stop that arrives when the service can no longer take it must
// not end the process once the signals are unblocked again.
TEST(ServiceDispatcherImplTest, RunsTheBodyOnItsOwnThreadUnderSystemdOnly) {
    ServiceDispatcherImpl dispatcher;
    {
        ScopedEnvironment unset("INVOCATION_ID", std::nullopt);
        bool ran = false;
        ScriptedService service([&](ScriptedService&) { ran = true; });
        EXPECT_EQ("Could not start service dispatcher using 'StartServiceCtrlDispatcher'. The "
                  "process was not started by systemd (INVOCATION_ID is not set).",
                  messageOf<ServiceDispatcherException>([&] { dispatcher.run(&service); }));
        EXPECT_FALSE(ran);
    }
    ScopedEnvironment invocation("INVOCATION_ID", "0123456789abcdef");
    ScriptedService service([](ScriptedService&) {
        ::kill(::getpid(), SIGTERM);
        ::kill(::getpid(), SIGUSR1);
    });
    dispatcher.run(&service);
    EXPECT_EQ(std::vector<std::string>{"Scripted Service"}, service.arguments);
    EXPECT_NE(std::this_thread::get_id(), service.serviceThread);
    EXPECT_TRUE(service.termBlocked);
    EXPECT_TRUE(service.controls.empty());
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGTERM));
    EXPECT_FALSE(blockedHere(SIGTERM));
    EXPECT_FALSE(blockedHere(SIGUSR1));
}

// A control sent before the handler is registered waits for it.
TEST(ServiceDispatcherImplTest, ControlsWaitForTheHandler) {
    ScopedEnvironment invocation("INVOCATION_ID", "0123456789abcdef");
    TempFolder folder;
    NotifySocket socket(folder);
    std::atomic<int> delivered{0};
    ScriptedService service([&](ScriptedService& self) {
        ::kill(::getpid(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int early = delivered.load();
        self.registerHandler();
        for (int i = 0; i < 500 && delivered.load() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(0, early);
    });
    service.onControl = [&] { ++delivered; };
    ServiceDispatcherImpl dispatcher;
    dispatcher.run(&service);
    EXPECT_EQ(std::vector<unsigned long>{control::Interrogate}, service.controls);
}

// Registration needs a reachable notification socket; a report that cannot be delivered fails
// and the status is kept.
TEST(ServiceMainTest, UndeliverableReportsFailWithTheReason) {
    TempFolder folder;
    const std::string registering =
        "Failed registering a service control handler using 'RegisterServiceCtrlHandlerEx'. ";
    const std::string reporting = "Failed setting service status using 'SetServiceStatus'. ";
    ScriptedService service([](ScriptedService&) {});
    const auto report = [&] {
        return messageOf<ServiceMainException>(
            [&] { service.setStatus(state::Running, control::AcceptStop, 0, 0, 0); });
    };
    for (const auto& [socket, message] : std::vector<std::pair<std::string, std::string>>{
             {folder.path("nobody-listens"),
              "System error message: No such file or directory. Error code: 2."},
             {"/" + std::string(200, 'x'), ""}}) {
        ScopedEnvironment variable("NOTIFY_SOCKET", socket);
        EXPECT_EQ(0u, messageOf<ServiceMainException>([&] { service.registerHandler(); })
                          .find(registering + message));
    }
    EXPECT_FALSE(service.handlerRegistered());
    EXPECT_EQ(reporting + "System error message: Transport endpoint is not connected. Error "
                          "code: 107.",
              report());
    NotifySocket socket(folder);
    service.registerHandler();
    EXPECT_TRUE(service.handlerRegistered());
    socket.close();
    EXPECT_EQ(0u, report().find(reporting + "System error message: Connection refused."));
    EXPECT_EQ(state::Running, service.status().currentState);
}

}  // namespace
