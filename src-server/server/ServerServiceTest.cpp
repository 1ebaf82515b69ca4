#include "server/ServerService.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "io/filesystem/TempFolder.h"
#include "platform/event/EventImpl.h"
#include "posix/services/ServiceDispatcherImpl.h"
#include "posix/services/ServiceTestSupport.h"
#include "testing/RecordingLog.h"

namespace {

using namespace norvale::quillmark;
using namespace posix::services::test;
namespace services = posix::services;
using io::filesystem::test::TempFolder;
using norvale::quillmark::testing::RecordingLog;
using Reports = std::vector<std::string>;
using Lines = std::vector<std::string>;

// A server whose run() does what the test says and then waits for the stop event.
class FakeServer : public ServerService {
public:
    FakeServer(RecordingLog* log, std::function<void()> whileRunning = [] {})
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

bool waitFor(const RecordingLog& log, const std::string& line) {
    for (int i = 0; i < 500; ++i) {
        const Lines lines = log.entries();
        if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class ServerServiceTest : public ::testing::Test {
protected:
    TempFolder _folder;
    NotifySocket _notify{_folder};
    ScopedEnvironment _invocation{"INVOCATION_ID", "5f1e0c3a9d2b4e6f8a7c"};
    RecordingLog _log;
    services::ServiceDispatcherImpl _dispatcher;
};

// The signals systemd sends reach the service as controls: SIGUSR1 interrogates, SIGTERM stops.
TEST_F(ServerServiceTest, SignalsFromTheManagerInterrogateAndStopTheRunningServer) {
    bool interrogated = false;
    FakeServer server(&_log, [&] {
        ::kill(::getpid(), SIGUSR1);
        interrogated = waitFor(_log, "Log: Interrogate the service from SCM.");
        ::kill(::getpid(), SIGTERM);
    });
    _dispatcher.run(&server);

    EXPECT_TRUE(server.ran);
    EXPECT_TRUE(interrogated);
    EXPECT_EQ((Lines{"Log: Interrogate the service from SCM.", "Log: Stopping the service from SCM."}),
              _log.entries());
    EXPECT_EQ((Reports{"STATUS=Starting", "READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running",
                       "STOPPING=1\nSTATUS=Stopping", "STATUS=Stopped"}),
              _notify.receive());
    EXPECT_EQ(services::state::Stopped, server.status().currentState);
    EXPECT_EQ(0u, server.status().exitCode);
    EXPECT_EQ("Quillmark Server", server.serviceName());
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
}

TEST_F(ServerServiceTest, FailingBodyIsReportedStoppedWithTheFailureExitCode) {
    FakeServer server(&_log, [] { throw services::ServiceException("Lost the unit folder."); });
    _dispatcher.run(&server);
    EXPECT_EQ(
        (Lines{"Log: An error occured when trying to run the service. Lost the unit folder."}),
        _log.entries());
    EXPECT_EQ((Reports{"STATUS=Starting", "READY=1\nSTATUS=Running",
                       "STATUS=Stopped with exit code 987654"}),
              _notify.receive());
    EXPECT_EQ(987654u, server.status().exitCode);
}

}  // namespace
