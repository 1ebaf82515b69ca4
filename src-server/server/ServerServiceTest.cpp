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
using namespace posix::services::test;
namespace services = posix::services;
using Lines = std::vector<std::string>;

// A server whose run() does what the test says and then waits for the stop event.
class FakeServer : public ServerService {
public:
    FakeServer(
        RecordingLog* log, std::function<void()> whileRunning = [] {})
        : ServerService(log, &_stop), _whileRunning(std::move(whileRunning)) {}

    int run() override {
        ran = true;
        _whileRunning();
        _stop.wait();
        return 0;
    }

    bool ran = false;  // written on the service thread, read after it was joined

private:
    platform::event::EventImpl _stop;
    std::function<void()> _whileRunning;
};

class ServerServiceTest : public ::testing::Test {
protected:
    io::filesystem::test::TempFolder _folder;
    NotifySocket _notify{_folder};
    ScopedEnvironment _invocation{"INVOCATION_ID", "5f1e0c3a9d2b4e6f8a7c"};
    RecordingLog _log;
};

// Under the service dispatcher, the signals systemd sends reach the service as controls
// (SIGUSR1 interrogates, SIGTERM stops), and a failing body is reported stopped with the
// failure exit code.
TEST_F(ServerServiceTest, ManagerSignalsAndFailuresReachTheManagerAsReports) {
    const std::string interrogate = "Log: Interrogate the service from SCM.";
    const struct {
        std::function<void(RecordingLog*)> whileRunning;
        Lines logged, reports;
        unsigned long exitCode;
    } cases[] = {
        {[&](RecordingLog* log) {
             ::kill(::getpid(), SIGUSR1);
             EXPECT_TRUE(log->waitFor(interrogate));
             ::kill(::getpid(), SIGTERM);
         },
         {interrogate, "Log: Stopping the service from SCM."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running",
          "STOPPING=1\nSTATUS=Stopping", "STATUS=Stopped"},
         0},
        {[](RecordingLog*) { throw services::ServiceException("Lost the unit folder."); },
         {"Log: An error occured when trying to run the service. Lost the unit folder."},
         {"STATUS=Starting", "READY=1\nSTATUS=Running", "STATUS=Stopped with exit code 987654"},
         987654},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        _log.clear();
        FakeServer server(&_log, [&] { row.whileRunning(&_log); });
        services::ServiceDispatcherImpl().run(&server);
        EXPECT_TRUE(server.ran);
        EXPECT_EQ(row.logged, _log.entries());
        EXPECT_EQ(row.reports, _notify.receive());
        EXPECT_EQ(services::state::Stopped, server.status().currentState);
        EXPECT_EQ(row.exitCode, server.status().exitCode);
    }
}

// The stop event is set even when the stop pending report cannot be delivered.
TEST_F(ServerServiceTest, StopReachesTheServerWhenTheReportFails) {
    FakeServer server(&_log);
    server.registerHandler();
    _notify.close();
    EXPECT_EQ(services::NoError, server.controlHandler(services::control::Stop, 0, nullptr));
    const Lines lines = _log.entries();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Log: Stopping the service from SCM.", lines[0]);
    EXPECT_EQ(0u, lines[1].find("Log: An error occured when trying to run the service. Failed "
                                "setting service status using 'SetServiceStatus'. "));
    server.run();  // returns at once: the event is set
    EXPECT_TRUE(server.ran);
    EXPECT_EQ("Quillmark Server", server.serviceName());
}

}  // namespace
