#include "posix/services/ServiceDispatcherImpl.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "io/filesystem/TempFolder.h"
#include "posix/services/ServiceTestSupport.h"

namespace {

using namespace posix::services;
using namespace posix::services::test;
using io::filesystem::test::TempFolder;

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
        return NoError;
    }

    std::vector<std::string> arguments;
    std::thread::id serviceThread;
    bool termBlocked = false;
    std::vector<unsigned long> controls;  // only touched by the dispatcher's thread

private:
    std::function<void(ScriptedService&)> _body;
};

TEST(ServiceDispatcherImplTest, RefusesToRunOutsideSystemd) {
    ScopedEnvironment unset("INVOCATION_ID", std::nullopt);
    bool ran = false;
    ScriptedService service([&](ScriptedService&) { ran = true; });
    ServiceDispatcherImpl dispatcher;
    try {
        dispatcher.run(&service);
        ADD_FAILURE() << "the dispatcher ran outside systemd";
    } catch (const ServiceDispatcherException& e) {
        EXPECT_STREQ("Could not start service dispatcher using 'StartServiceCtrlDispatcher'. The "
                     "process was not started by systemd (INVOCATION_ID is not set).",
                     e.what());
    }
    EXPECT_FALSE(ran);
}

TEST(ServiceDispatcherImplTest, RunsTheBodyOnItsOwnThreadWithControlSignalsBlocked) {
    ScopedEnvironment invocation("INVOCATION_ID", "0123456789abcdef");
    ScriptedService service([](ScriptedService&) {});
    ServiceDispatcherImpl dispatcher;
    dispatcher.run(&service);
    EXPECT_EQ(std::vector<std::string>{"Scripted Service"}, service.arguments);
    EXPECT_NE(std::this_thread::get_id(), service.serviceThread);
    EXPECT_TRUE(service.termBlocked);
    EXPECT_FALSE(blockedHere(SIGTERM));
    EXPECT_FALSE(blockedHere(SIGUSR1));
}

// Controls sent before the handler is registered wait for it; a stop sent as the service ends
// is dropped instead of killing the process once the signals are unblocked again.
TEST(ServiceDispatcherImplTest, ControlsWaitForTheHandlerAndLateOnesAreDropped) {
    ScopedEnvironment invocation("INVOCATION_ID", "0123456789abcdef");
    TempFolder folder;
    NotifySocket socket(folder);
    ScriptedService service([](ScriptedService& self) {
        ::kill(::getpid(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        self.registerHandler();
        // Give the dispatcher time to deliver the waiting control.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(::getpid(), SIGTERM);
    });
    ServiceDispatcherImpl dispatcher;
    dispatcher.run(&service);
    ASSERT_FALSE(service.controls.empty());
    EXPECT_EQ(control::Interrogate, service.controls.front());
    EXPECT_LE(service.controls.size(), 2u);
}

TEST(ServiceDispatcherImplTest, FailureOfTheBodyReachesTheCaller) {
    ScopedEnvironment invocation("INVOCATION_ID", "0123456789abcdef");
    ScriptedService service(
        [](ScriptedService&) { throw ServiceMainException("the body failed"); });
    ServiceDispatcherImpl dispatcher;
    try {
        dispatcher.run(&service);
        ADD_FAILURE() << "the failure was lost";
    } catch (const ServiceMainException& e) {
        EXPECT_STREQ("the body failed", e.what());
    }
    EXPECT_FALSE(blockedHere(SIGTERM));
}

}  // namespace
