#include "posix/services/ServiceMain.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "posix/services/ServiceTestSupport.h"

namespace {

using namespace posix::services;
using namespace posix::services::test;
using io::filesystem::test::TempFolder;

// Only the reporting of the base is used here.
class Reporter : public ServiceMain {
public:
    std::string serviceName() const override { return "Reporter"; }
    void serviceMain(int, char**) override {}
    unsigned long controlHandler(unsigned long, unsigned long, void*) override { return 0; }

    std::string failureOf(bool registering) {
        try {
            if (registering) {
                registerHandler();
            } else {
                setStatus(state::Running, control::AcceptStop, 0, 0, 0);
            }
        } catch (const ServiceMainException& e) {
            return e.what();
        }
        return "(no failure)";
    }
};

// Registration needs a reachable notification socket; a report that cannot be delivered fails
// and the status is kept.
TEST(ServiceMainTest, UndeliverableReportsFailWithTheReason) {
    TempFolder folder;
    const std::string registering =
        "Failed registering a service control handler using 'RegisterServiceCtrlHandlerEx'. ";
    const std::string reporting = "Failed setting service status using 'SetServiceStatus'. ";
    Reporter service;
    for (const auto& [socket, message] : std::vector<std::pair<std::string, std::string>>{
             {folder.path("nobody-listens"),
              "System error message: No such file or directory. Error code: 2."},
             {"/" + std::string(200, 'x'), ""}}) {
        ScopedEnvironment variable("NOTIFY_SOCKET", socket);
        EXPECT_EQ(0u, service.failureOf(true).find(registering + message));
    }
    EXPECT_FALSE(service.handlerRegistered());
    EXPECT_EQ(reporting + "System error message: Transport endpoint is not connected. Error "
                          "code: 107.",
              service.failureOf(false));

    NotifySocket socket(folder);
    service.registerHandler();
    EXPECT_TRUE(service.handlerRegistered());
    socket.close();
    EXPECT_EQ(0u, service.failureOf(false).find(reporting +
                                                "System error message: Connection refused."));
    EXPECT_EQ(state::Running, service.status().currentState);
}

}  // namespace
