#include "posix/services/ServiceActions.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>

#include "io/filesystem/TempFolder.h"
#include "posix/services/SCManagerFactoryImpl.h"
#include "posix/services/ServiceImpl.h"
#include "posix/services/ServiceTestSupport.h"
#include "posix/services/UnitFile.h"

namespace {

using namespace posix::services;
using namespace posix::services::test;
using io::filesystem::test::TempFolder;
using Calls = std::vector<std::string>;

const char* const Unit = "quillmark-server.service";
const std::string Installed =
    "[Unit]\n"
    "Description=Manages text classification requests.\n"
    "\n"
    "[Service]\n"
    "Type=notify\n"
    "ExecStart=/opt/quillmark/quillmarkserver -scm -config config.xml\n"
    "ExecReload=/bin/kill -HUP $MAINPID\n"
    "\n"
    "[Install]\n"
    "WantedBy=multi-user.target\n";

template <typename E, typename Body>
std::string messageOf(Body body) {
    try {
        body();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "the expected exception was not thrown";
    return "";
}

class ServiceActionsTest : public ::testing::Test {
protected:
    std::string unitPath() const { return _units.path(Unit); }
    bool unitExists() const { return std::filesystem::exists(unitPath()); }
    std::vector<std::string> unitFolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(_units.path("")))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TempFolder _units;
    TempFolder _tools;
    ScopedEnvironment _unitFolder{"QUILLMARK_UNIT_DIR", _units.path("")};
    FakeSystemctl _systemctl{_tools};
    SCManagerFactoryImpl _managers;
    FixedModule _executable{"/opt/quillmark/quillmarkserver"};
    ServiceActions _actions{&_managers, &_executable, "Quillmark Server",
                            "Manages text classification requests."};
};

TEST_F(ServiceActionsTest, ActionsOnAMissingServiceReportItAndRunNothing) {
    const std::string message = "The service with the name 'Quillmark Server' is not installed.";
    EXPECT_EQ(message, messageOf<ServiceDoesNotExistsException>([&] { _actions.uninstall(); }));
    EXPECT_EQ(message, messageOf<ServiceDoesNotExistsException>([&] { _actions.start(); }));
    EXPECT_EQ(message, messageOf<ServiceDoesNotExistsException>([&] { _actions.stop(); }));
    EXPECT_TRUE(_systemctl.calls().empty());
}

// Install writes the unit and enables it; a second install keeps the first registration; the
// other actions go through systemctl and an uninstalled service can be installed again.
TEST_F(ServiceActionsTest, LifecycleGoesThroughTheUnitFileAndSystemctl) {
    _actions.install("/etc/quillmark/config.xml");
    EXPECT_EQ(std::vector<std::string>{Unit}, unitFolderEntries());
    EXPECT_EQ("The service with the name 'Quillmark Server' is already installed.",
              messageOf<ServiceAlreadyExistsException>([&] { _actions.install("other.xml"); }));
    _actions.start();
    _actions.stop();
    EXPECT_TRUE(unitExists());
    _actions.uninstall();
    EXPECT_FALSE(unitExists());
    EXPECT_EQ((Calls{"enable quillmark-server.service", "daemon-reload",
                     "start quillmark-server.service", "stop quillmark-server.service",
                     "disable quillmark-server.service", "daemon-reload"}),
              _systemctl.calls());
    EXPECT_THROW(_actions.uninstall(), ServiceDoesNotExistsException);
    _actions.install("config.xml");
    EXPECT_EQ(Installed, TempFolder::read(unitPath()));
}

TEST_F(ServiceActionsTest, FailingSystemctlNamesTheCallAndTheCommand) {
    _actions.install("config.xml");
    _systemctl.failOn("start");
    _systemctl.failOn("stop");
    _systemctl.failOn("disable");
    EXPECT_EQ("Could not start service using the 'StartService' system call. The command "
              "'systemctl start quillmark-server.service' ended with exit code 3.",
              messageOf<ServiceException>([&] { _actions.start(); }));
    EXPECT_EQ("Could not stop service using the 'ControlService' system call. The command "
              "'systemctl stop quillmark-server.service' ended with exit code 3.",
              messageOf<ServiceException>([&] { _actions.stop(); }));
    EXPECT_EQ("Could not delete service using 'DeleteService'. The command "
              "'systemctl disable quillmark-server.service' ended with exit code 3.",
              messageOf<ServiceException>([&] { _actions.uninstall(); }));
    // A refused disable leaves the service installed.
    EXPECT_TRUE(unitExists());
}

TEST_F(ServiceActionsTest, FailedInstallLeavesNothingInstalled) {
    _systemctl.failOn("enable");
    EXPECT_EQ("Error creating new service using the 'CreateService' system call. The command "
              "'systemctl enable quillmark-server.service' ended with exit code 3.",
              messageOf<ServiceException>([&] { _actions.install("config.xml"); }));
    EXPECT_TRUE(unitFolderEntries().empty());

    // The registration stands when only its description could not be published.
    _systemctl.succeedOn("enable");
    _systemctl.failOn("daemon-reload");
    EXPECT_EQ("Could not set service description using 'ChangeServiceConfig2'. The command "
              "'systemctl daemon-reload' ended with exit code 3.",
              messageOf<ServiceException>([&] { _actions.install("config.xml"); }));
    EXPECT_EQ(Installed, TempFolder::read(unitPath()));
    EXPECT_THROW(_actions.install("config.xml"), ServiceAlreadyExistsException);
}

TEST_F(ServiceActionsTest, MissingSystemctlIsASystemError) {
    ScopedEnvironment path("PATH", _units.path("no-tools-here"));
    _units.write(Unit, Installed);
    EXPECT_EQ("Could not start service using the 'StartService' system call. The command "
              "'systemctl start quillmark-server.service' could not be run. System error "
              "message: No such file or directory. Error code: 2.",
              messageOf<ServiceException>([&] { _actions.start(); }));
}

TEST_F(ServiceActionsTest, ServiceManagerOfAnotherHostOrWithoutUnitFolderCannotBeOpened) {
    EXPECT_EQ("Could not open Service Control Manager using 'OpenSCManager'. Host: "
              "build-7. System error message: Operation not supported. Error code: 95.",
              messageOf<SCManagerException>([&] { _managers.open("build-7"); }));

    ScopedEnvironment missing("QUILLMARK_UNIT_DIR", _units.path("absent"));
    EXPECT_EQ("Could not open Service Control Manager using 'OpenSCManager'. Host: . System "
              "error message: No such file or directory. Error code: 2.",
              messageOf<SCManagerException>([&] { _actions.start(); }));
    EXPECT_TRUE(_systemctl.calls().empty());
}

TEST_F(ServiceActionsTest, ManagerReportsOpenAndCreateFailuresWithSystemText) {
    const auto manager = _managers.open("");
    EXPECT_EQ("Error opening the 'Quillmark Server 'using the 'OpenService' system call. System "
              "error message: No such file or directory. Error code: 2.",
              messageOf<ServiceDoesNotExistsException>(
                  [&] { manager->openService("Quillmark Server"); }));
    _units.write(Unit, "[Unit]\n");
    EXPECT_EQ("Error creating new service using the 'CreateService' system call. System error "
              "message: File exists. Error code: 17.",
              messageOf<ServiceAlreadyExistsException>(
                  [&] { manager->createService("Quillmark Server", "Quillmark Server", "x"); }));
    EXPECT_EQ("[Unit]\n", TempFolder::read(unitPath()));
    manager->close();
}

TEST_F(ServiceActionsTest, DescriptionReplacesOrAddsTheDescriptionLine) {
    const auto manager = _managers.open("");
    _units.write(Unit, "[Unit]\nAfter=network.target\nDescription=Old\n\n[Service]\n");
    auto service = manager->openService("Quillmark Server");
    service->setDescription("New text");
    EXPECT_EQ("[Unit]\nAfter=network.target\nDescription=New text\n\n[Service]\n",
              TempFolder::read(unitPath()));
    service->setDescription("Newer");
    EXPECT_EQ("[Unit]\nAfter=network.target\nDescription=Newer\n\n[Service]\n",
              TempFolder::read(unitPath()));

    _units.write(Unit, "[Unit]\nAfter=network.target\n");
    service->setDescription("Added");
    EXPECT_EQ("[Unit]\nDescription=Added\nAfter=network.target\n", TempFolder::read(unitPath()));

    EXPECT_EQ("description sent to ServiceImpl::setDescription is NULL.",
              messageOf<ServiceException>([&] { service->setDescription(nullptr); }));
    EXPECT_EQ("Could not set service description using 'ChangeServiceConfig2'. System error "
              "message: Invalid argument. Error code: 22.",
              messageOf<ServiceException>([&] { service->setDescription("two\nlines"); }));
    EXPECT_EQ("[Unit]\nDescription=Added\nAfter=network.target\n", TempFolder::read(unitPath()));
    service->close();
    manager->close();
}

TEST(UnitFileTest, NamesAndFolder) {
    EXPECT_EQ("quillmark-server.service", unitFileName("Quillmark Server"));
    EXPECT_EQ("a-b-c.service", unitFileName("A b C"));
    ScopedEnvironment unset("QUILLMARK_UNIT_DIR", std::nullopt);
    EXPECT_EQ("/etc/systemd/system", unitFolder());
    ScopedEnvironment empty("QUILLMARK_UNIT_DIR", "");
    EXPECT_EQ("/etc/systemd/system", unitFolder());
    ScopedEnvironment set("QUILLMARK_UNIT_DIR", "/tmp/units");
    EXPECT_EQ("/tmp/units", unitFolder());
}

TEST(ServiceHandleTest, UsingAClosedServiceIsAnAssertion) {
    TempFolder folder;
    const std::string path = folder.write(Unit, "[Unit]\n");
    ServiceImpl service(::open(path.c_str(), O_RDONLY), path, Unit);
    service.close();
    // The report goes to standard output and to assertion.txt in the working directory; both
    // are kept in the temporary folder.
    const std::string report = folder.path("report.txt");
    EXPECT_DEATH(
        {
            if (::chdir(folder.path("").c_str()) != 0) std::abort();
            const int out = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            service.start();
        },
        "");
    EXPECT_NE(std::string::npos,
              TempFolder::read(report).find("Description: The service handle is closed."));
}

}  // namespace
