#include "posix/services/ServiceActions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "io/filesystem/TempFolder.h"
#include "posix/file/ModuleImpl.h"
#include "posix/services/SCManagerFactoryImpl.h"
#include "posix/services/ServiceTestSupport.h"

namespace {

using namespace posix::services;
using namespace posix::services::test;
using io::filesystem::test::TempFolder;

const char* const Unit = "quillmark-server.service";
const std::string Installed =
    "[Unit]\nDescription=Manages text classification requests.\n\n[Service]\nType=notify\n"
    "ExecStart=/opt/quillmark/quillmarkserver -scm -config config.xml\n"
    "ExecReload=/bin/kill -HUP $MAINPID\n\n[Install]\nWantedBy=multi-user.target\n";

class ServiceActionsTest : public ::testing::Test {
protected:
    std::string unitPath() const { return _units.path(Unit); }
    bool unitExists() const { return std::filesystem::exists(unitPath()); }

    TempFolder _units;
    TempFolder _tools;
    ScopedEnvironment _unitFolder{"QUILLMARK_UNIT_DIR", _units.path("")};
    FakeSystemctl _systemctl{_tools};
    SCManagerFactoryImpl _managers;
    // The executable is named by a link, as /proc/self/exe names it.
    const int _link = ::symlink("/opt/quillmark/quillmarkserver", _tools.path("exe").c_str());
    posix::file::ModuleImpl _executable{nullptr, _tools.path("exe")};
    ServiceActions _actions{&_managers, &_executable, "Quillmark Server",
                            "Manages text classification requests."};
};

// Install writes the unit and enables it; a second install keeps the first registration; the
// other actions go through systemctl and uninstall removes the unit.
TEST_F(ServiceActionsTest, LifecycleGoesThroughTheUnitFileAndSystemctl) {
    _actions.install("config.xml");
    EXPECT_EQ("The service with the name 'Quillmark Server' is already installed.",
              messageOf<ServiceAlreadyExistsException>([&] { _actions.install("other.xml"); }));
    EXPECT_EQ(Installed, TempFolder::read(unitPath()));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(_units.path("")), {}));
    _actions.start();
    _actions.stop();
    _actions.uninstall();  // still installed, or it throws
    EXPECT_FALSE(unitExists());
    EXPECT_EQ(
        "enable quillmark-server.service\ndaemon-reload\nstart quillmark-server.service\n"
        "stop quillmark-server.service\ndisable quillmark-server.service\ndaemon-reload\n",
        _systemctl.calls());
    // A path systemd would split or expand arrives as typed.
    _actions.install("/srv/my \"qm\"/100%\\$x.xml");
    EXPECT_NE(
        std::string::npos,
        TempFolder::read(unitPath()).find("-config \"/srv/my \\\"qm\\\"/100%%\\\\$$x.xml\"\n"));
}

// Each failure names the call and its cause, and leaves the installation as it was: a refused
// enable installs nothing, a refused disable uninstalls nothing; only a refused reload after
// the enable keeps the registration.
TEST_F(ServiceActionsTest, FailuresNameTheCallAndLeaveTheInstallationAsItWas) {
    const std::string notInstalled =
        "The service with the name 'Quillmark Server' is not installed.";
    // The report of a systemctl call that ended with exit code 3.
    const auto exit3 = [](const std::string& call, const std::string& command) {
        return call + " The command 'systemctl " + command + "' ended with exit code 3.";
    };
    const std::string unit = std::string(" ") + Unit;
    const struct {
        bool installed, installedAfter;
        const char* failingVerb;
        std::function<void(ServiceActions&)> action;
        std::string message;
    } cases[] = {
        {false, false, "", [](ServiceActions& a) { a.uninstall(); }, notInstalled},
        {false, false, "", [](ServiceActions& a) { a.start(); }, notInstalled},
        {false, false, "", [](ServiceActions& a) { a.stop(); }, notInstalled},
        {true, true, "start", [](ServiceActions& a) { a.start(); },
         exit3("Could not start service using the 'StartService' system call.", "start" + unit)},
        {true, true, "stop", [](ServiceActions& a) { a.stop(); },
         exit3("Could not stop service using the 'ControlService' system call.", "stop" + unit)},
        {true, true, "disable", [](ServiceActions& a) { a.uninstall(); },
         exit3("Could not delete service using 'DeleteService'.", "disable" + unit)},
        {false, false, "enable", [](ServiceActions& a) { a.install("config.xml"); },
         exit3("Error creating new service using the 'CreateService' system call.",
               "enable" + unit)},
        // The registration stands when only its description could not be published.
        {false, true, "daemon-reload", [](ServiceActions& a) { a.install("config.xml"); },
         exit3("Could not set service description using 'ChangeServiceConfig2'.", "daemon-reload")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::filesystem::remove(unitPath());
        if (c.installed) _units.write(Unit, Installed);
        _systemctl.failOn(c.failingVerb);
        EXPECT_EQ(c.message, messageOf<exceptions::Exception>([&] { c.action(_actions); }));
        _systemctl.failOn("");
        EXPECT_EQ(c.installedAfter, unitExists());
    }

    ScopedEnvironment path("PATH", _units.path("no-tools-here"));
    EXPECT_EQ(
        "Could not start service using the 'StartService' system call. The command "
        "'systemctl start quillmark-server.service' could not be run. System error "
        "message: No such file or directory. Error code: 2.",
        messageOf<ServiceException>([&] { _actions.start(); }));
}

}  // namespace
