#include "posix/services/ServiceMain.h"

#include <gtest/gtest.h>

#include <optional>

#include "io/filesystem/TempFolder.h"
#include "posix/services/ServiceTestSupport.h"

namespace {

using namespace posix::services;
using namespace posix::services::test;
using io::filesystem::test::TempFolder;
using Reports = std::vector<std::string>;

// The message of the ServiceMainException that body throws.
template <typename Body>
std::string failureOf(Body body) {
    try {
        body();
    } catch (const ServiceMainException& e) {
        return e.what();
    }
    ADD_FAILURE() << "no ServiceMainException was thrown";
    return "";
}

// Only the reporting of the base is used here.
class Reporter : public ServiceMain {
public:
    std::string serviceName() const override { return "Reporter"; }
    void serviceMain(int, char**) override {}
    unsigned long controlHandler(unsigned long, unsigned long, void*) override { return 0; }
};

TEST(ServiceMainTest, StatesAreReportedToTheNotificationSocket) {
    TempFolder folder;
    NotifySocket socket(folder);
    Reporter service;
    service.registerHandler();
    EXPECT_TRUE(service.handlerRegistered());

    service.setStatus(state::StartPending, 0, 0, 0, 1000);
    service.setStatus(state::Running, control::AcceptStop, 0, 0, 0);
    service.reportStatus();
    service.setStatus(state::StopPending, 0, 0, 0, 0);
    service.setStatus(state::Stopped, 0, 0, 0, 0);
    service.setStatus(state::Stopped, 0, 987654, 0, 0);
    EXPECT_EQ((Reports{"STATUS=Starting", "READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running",
                       "STOPPING=1\nSTATUS=Stopping", "STATUS=Stopped",
                       "STATUS=Stopped with exit code 987654"}),
              socket.receive());

    const ServiceStatus last = service.status();
    EXPECT_EQ(state::Stopped, last.currentState);
    EXPECT_EQ(987654u, last.exitCode);
}

// Registration needs a reachable notification socket; a report that cannot be delivered fails
// and keeps the status.
TEST(ServiceMainTest, UndeliverableReportsFailWithTheReason) {
    TempFolder folder;
    const std::string opening =
        "Failed registering a service control handler using 'RegisterServiceCtrlHandlerEx'. ";
    const struct {
        std::optional<std::string> socket;
        std::string message;
    } cases[] = {
        {std::nullopt, opening + "The environment variable NOTIFY_SOCKET is not set."},
        {folder.path("nobody-listens"),
         opening + "System error message: No such file or directory. Error code: 2."},
        {"/" + std::string(200, 'x'), opening},
    };
    Reporter service;
    for (const auto& c : cases) {
        ScopedEnvironment variable("NOTIFY_SOCKET", c.socket);
        EXPECT_EQ(0u, failureOf([&] { service.registerHandler(); }).find(c.message));
    }
    EXPECT_FALSE(service.handlerRegistered());
    EXPECT_EQ("Failed setting service status using 'SetServiceStatus'. System error "
              "message: Transport endpoint is not connected. Error code: 107.",
              failureOf([&] { service.setStatus(state::Running, control::AcceptStop, 0, 0, 0); }));

    NotifySocket socket(folder);
    service.registerHandler();
    socket.close();
    EXPECT_EQ(0u, failureOf([&] { service.setStatus(state::Running, control::AcceptStop, 0, 0, 0); })
                      .find("Failed setting service status using 'SetServiceStatus'. System "
                            "error message: Connection refused."));
    EXPECT_EQ(state::Running, service.status().currentState);
}

}  // namespace
