#include "server/ServerService.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>

#include "io/filesystem/TempFolder.h"
#include "platform/event/EventImpl.h"
#include "posix/services/ServiceDispatcherImpl.h"
#include "posix/services/ServiceTestSupport.h"
#include "testing/RecordingLog.h"

namespace {

using namespace norvale::quillmark;
using norvale::quillmark::testing::RecordingLog;
namespace services = posix::services;
using Lines = std::vector<std::string>;

// A server whose run() does what the test says and then waits for the stop event.
class FakeServer : public ServerService {
public:
    FakeServer(RecordingLog* log, std::function<void()> whileRunning)
        : ServerService(log, &_stop), _whileRunning(std::move(whileRunning)) {}
    int run() override {
        _whileRunning();
        _stop.wait();
        return 0;
    }

private:
    platform::event::EventImpl _stop;
    std::function<void()> _whileRunning;
};

// Under the service dispatcher, the signals systemd sends reach the service as controls
// (SIGUSR1 interrogates, SIGTERM stops), and a failing body is reported stopped with the
// failure exit code. The stop still reaches the server when its report cannot be delivered.
TEST(ServerServiceTest, ManagerSignalsAndFailuresReachTheManagerAsReports) {
    io::filesystem::test::TempFolder folder;
    posix::services::test::NotifySocket notify{folder};
    posix::services::test::ScopedEnvironment invocation{"INVOCATION_ID", "5f1e0c3a9d2b4e6f8a7c"};
    RecordingLog log;
    const std::string interrogate = "Log: Interrogate the service from SCM.";
    const struct {
        std::function<void()> whileRunning;
        Lines logged, reports;
        unsigned long exitCode;
    } cases[] = {
        {[&] {
             ::kill(::getpid(), SIGUSR1);
             EXPECT_TRUE(log.waitFor(interrogate));
             ::kill(::getpid(), SIGTERM);
         },
         {interrogate, "Log: Stopping the service from SCM."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running",
          "STOPPING=1\nSTATUS=Stopping", "STATUS=Stopped"},
         0},
        {[] { throw services::ServiceException("Lost the unit folder."); },
         {"Log: An error occured when trying to run the service. Lost the unit folder."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "STATUS=Stopped with exit code 987654"},
         987654},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        log.clear();
        FakeServer server(&log, row.whileRunning);
        services::ServiceDispatcherImpl().run(&server);
        EXPECT_EQ(row.logged, log.entries());
        EXPECT_EQ(row.reports, notify.receive());
        EXPECT_EQ(services::state::Stopped, server.status().currentState);
        EXPECT_EQ(row.exitCode, server.status().exitCode);
    }

    log.clear();
    FakeServer server(&log, [] {});
    server.registerHandler();
    notify.close();
    EXPECT_EQ(services::NoError, server.controlHandler(services::control::Stop, 0, nullptr));
    ASSERT_EQ(2u, log.entries().size());
    EXPECT_EQ("Log: Stopping the service from SCM.", log.entries()[0]);
    EXPECT_TRUE(log.entries()[1].starts_with("Log: An error occured when trying to run the "
                                             "service. Failed setting service status using "
                                             "'SetServiceStatus'. "));
    server.run();  // returns at once: the event is set
}

}  // namespace
