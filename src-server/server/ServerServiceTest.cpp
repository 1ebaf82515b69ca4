// The service body under the systemd dispatcher: the service thread, the signal-driven controls,
// the status reports and what happens when they cannot be delivered.
#include "server/ServerService.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <thread>

#include "io/filesystem/TempFolder.h"
#include "platform/event/EventImpl.h"
#include "posix/services/ServiceDispatcherImpl.h"
#include "posix/services/ServiceTestSupport.h"
#include "testing/RecordingLog.h"

namespace {

using namespace norvale::quillmark;
using namespace posix::services::test;
using norvale::quillmark::testing::RecordingLog;
namespace services = posix::services;
using Lines = std::vector<std::string>;

bool blockedHere(int signal) {
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// A server whose run() does what the test says and then waits for the stop event; beforeMain
// runs on the service thread before the service registers.
class FakeServer : public ServerService {
public:
    FakeServer(RecordingLog* log, std::function<void()> whileRunning)
        : ServerService(log, &_stop), _whileRunning(std::move(whileRunning)) {}
    void serviceMain(int argc, char** argv) override {
        if (beforeMain) beforeMain();
        ServerService::serviceMain(argc, argv);
    }
    int run() override {
        _whileRunning();
        _stop.wait();
        return 2;  // a status of its own, to be seen reaching the process
    }

    std::function<void()> beforeMain;

private:
    platform::event::EventImpl _stop;
    std::function<void()> _whileRunning;
};

// Outside systemd nothing runs. Under it the body runs on a thread of its own with the control
// signals blocked there, and they reach the service as controls once it has registered (SIGUSR1
// interrogates, SIGTERM stops). A failing body is reported stopped with the failure exit code,
// and the status is kept when the report cannot be delivered. Controls sent to a service that
// never registered wait, and are dropped instead of ending the process once unblocked. A report
// that cannot be delivered is logged with the reason (the manager's end gone, then the socket
// no longer connected), and the stop still reaches the server.
TEST(ServerServiceTest, ManagerSignalsBecomeControlsAndFailuresReachTheManager) {
    io::filesystem::test::TempFolder folder;
    NotifySocket notify{folder};
    RecordingLog log;
    {
        ScopedEnvironment unset("INVOCATION_ID", std::nullopt);
        FakeServer server(&log, [] { throw services::ServiceException("ran outside systemd"); });
        EXPECT_EQ(
            "Could not start service dispatcher using 'StartServiceCtrlDispatcher'. The "
            "process was not started by systemd (INVOCATION_ID is not set).",
            messageOf<services::ServiceDispatcherException>(
                [&] { services::ServiceDispatcherImpl().run(&server); }));
        EXPECT_TRUE(log.entries().empty());
    }
    ScopedEnvironment invocation{"INVOCATION_ID", "5f1e0c3a9d2b4e6f8a7c"};
    const std::string interrogate = "Log: Interrogate the service from SCM.";
    const std::string failed = "Log: An error occured when trying to run the service. ";
    const std::string unregistered = failed +
                                     "Failed registering a service control handler "
                                     "using 'RegisterServiceCtrlHandlerEx'. System error "
                                     "message: ";
    const std::string reporting =
        failed + "Failed setting service status using 'SetServiceStatus'. System error message: ";
    const auto testThread = std::this_thread::get_id();
    const auto pendControls = [] {
        ::kill(::getpid(), SIGTERM);
        ::kill(::getpid(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    const struct {
        // NOTIFY_SOCKET instead of the listening one; controls are then sent before the service
        // registers.
        std::optional<std::string> socket;
        std::function<void()> whileRunning;
        Lines logged, reports = {};
        // A failed service, by default.
        unsigned long exitCode = 987654;
        int exitStatus = 1;  // the process's
    } cases[] = {
        {std::nullopt,
         [&] {
             EXPECT_NE(testThread, std::this_thread::get_id());
             EXPECT_TRUE(blockedHere(SIGTERM) && blockedHere(SIGUSR1));
             ::kill(::getpid(), SIGUSR1);
             EXPECT_TRUE(log.waitFor(interrogate));
             ::kill(::getpid(), SIGTERM);
         },
         {interrogate, "Log: Stopping the service from SCM."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running",
          "STOPPING=1\nSTATUS=Stopping", "STATUS=Stopped"},
         0,
         2},
        {std::nullopt,
         [] { throw services::ServiceException("Lost the unit folder."); },
         {failed + "Lost the unit folder."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "STATUS=Stopped with exit code 987654"}},
        {folder.path("nobody-listens"),
         [] {},
         {unregistered + "No such file or directory. Error code: 2."}},
        {"/" + std::string(200, 'x'),
         [] {},
         {unregistered + "File name too long. Error code: 36."}},
        // The stop still reaches the server when its report cannot be delivered.
        {std::nullopt,
         [&] {
             notify.close();
             ::kill(::getpid(), SIGTERM);
         },
         {"Log: Stopping the service from SCM.", reporting + "Connection refused. Error code: 111.",
          reporting + "Transport endpoint is not connected. Error code: 107."}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        log.clear();
        std::optional<ScopedEnvironment> socket;
        if (row.socket) socket.emplace("NOTIFY_SOCKET", *row.socket);
        FakeServer server(&log, row.whileRunning);
        if (row.socket) server.beforeMain = pendControls;
        services::ServiceDispatcherImpl().run(&server);
        EXPECT_EQ(row.logged, log.entries());
        EXPECT_EQ(row.reports, notify.receive());
        EXPECT_EQ(services::state::Stopped, server.status().currentState);
        EXPECT_EQ(row.exitCode, server.status().exitCode);
        EXPECT_EQ(row.exitStatus, server.exitStatus());
    }
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGTERM) || sigismember(&pending, SIGUSR1));
    EXPECT_FALSE(blockedHere(SIGTERM) || blockedHere(SIGUSR1));
}

}  // namespace
