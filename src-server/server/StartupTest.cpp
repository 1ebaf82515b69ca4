#include "server/Startup.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

using testing::RecordingLog;

class FakeCreateFolder : public posix::file::CreateFolder {
public:
    void create(const std::string& path, bool failIfExists) const override {
        created.push_back(path + (failIfExists ? " fail-if-exists" : ""));
        if (fail) throw posix::file::CreateFolderException("Could not create.");
    }
    bool fail = false;
    mutable std::vector<std::string> created;
};

class FakeExistsDir : public io::filesystem::ExistsDir {
public:
    bool exists(const std::string& path) const override { return folders.count(path) != 0; }
    std::set<std::string> folders{"./logs/"};
};

class FakeCurrentDirectory : public posix::file::CurrentDirectory {
public:
    void set(const std::string& path) override { paths.push_back(path); }
    std::string get() const override { return paths.empty() ? "" : paths.back(); }
    std::vector<std::string> paths;
};

class FakeModule : public posix::file::Module {
public:
    std::string fileName() const override { return path; }
    std::string path = "/opt/quillmark/quillmarkserver";
};

class RecordingService : public ServiceControl {
public:
    void install(const std::string& configPath) override { act("install " + configPath); }
    void uninstall() override { act("uninstall"); }
    void start() override { act("start"); }
    void stop() override { act("stop"); }

    std::function<void()> failure;
    std::vector<std::string> calls;

private:
    void act(const std::string& call) {
        calls.push_back(call);
        if (failure) failure();
    }
};

class RecordingServer : public ServerRunner {
public:
    void runServer(const ServerRunSettings& settings, platform::event::Event* stopEvent,
                   TerminateHandler* terminateHandler) override {
        runs.push_back(settings);
        terminateHandlerWhileRunning = std::get_terminate();
        handedTerminateHandler = terminateHandler != nullptr;
        if (settings.testMode) stopEvent->wait();  // set at construction: returns at once
        if (failure) failure();
    }

    std::function<void()> failure;
    std::vector<ServerRunSettings> runs;
    std::terminate_handler terminateHandlerWhileRunning = nullptr;
    bool handedTerminateHandler = false;
};

class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        _services.log = &_log;
        _services.logSettings = &_log;
        _services.createFolder = &_createFolder;
        _services.existsDir = &_existsDir;
        _services.currentDirectory = &_currentDirectory;
        _services.executable = &_module;
    }

    std::unique_ptr<Startup> startup(std::vector<const char*> args) {
        args.insert(args.begin(), "quillmarkserver");
        return std::make_unique<Startup>(static_cast<int>(args.size()), args.data(), _services,
                                         &_service, &_server);
    }

    // The message of the ArgStartupException the command line ends with.
    std::string refusal(std::vector<const char*> args) {
        try {
            startup(std::move(args));
        } catch (const ArgStartupException& e) {
            return e.what();
        }
        return "accepted";
    }

    RecordingLog _log;
    FakeCreateFolder _createFolder;
    FakeExistsDir _existsDir;
    FakeCurrentDirectory _currentDirectory;
    FakeModule _module;
    StartupServices _services;
    RecordingService _service;
    RecordingServer _server;
};

TEST_F(StartupTest, AMissingLogFolderEndsStartup) {
    _createFolder.fail = true;
    _existsDir.folders.clear();
    try {
        startup({"-config", "config.xml"});
        FAIL() << "accepted";
    } catch (const SystemStartupException& e) {
        EXPECT_EQ(std::string("The directory './logs/' doesn't exist. Make sure you create it!"),
                  e.what());
    }
    EXPECT_TRUE(_log.entries().empty());
}

TEST_F(StartupTest, EachModeAcceptsOnlyItsOwnFlags) {
    EXPECT_EQ("No arguments specified.", refusal({}));
    EXPECT_EQ(std::vector<std::string>{"setFileOutput on"}, _log.entries());  // file output is on already
    EXPECT_EQ("Not enough arguments for the flag -config. 1 is required.", refusal({"-config"}));
    EXPECT_EQ("Too many arguments for the flag -config. No more than 1 arguments allowed",
              refusal({"-config", "a.xml", "b.xml"}));
    for (const char* flag : {"-install", "-quiet", "-test", "-scm"}) {
        EXPECT_EQ("The non optional flag -config was not found.", refusal({flag})) << flag;
    }
    EXPECT_EQ("The flag -config is not allowed", refusal({"-uninstall", "-config", "c.xml"}));
    EXPECT_EQ("The flag -config is not allowed", refusal({"-start", "-config", "c.xml"}));
    EXPECT_EQ("The flag -test is not allowed", refusal({"-stop", "-test"}));
    EXPECT_EQ("The flag -quiet was used more than once.",
              refusal({"-config", "c.xml", "-quiet", "-quiet"}));
    // The first mode word found decides, wherever it stands.
    EXPECT_EQ("The flag -install is not allowed", refusal({"-install", "-scm", "-config", "c"}));
    EXPECT_EQ("The flag -test is not allowed", refusal({"-test", "-start"}));

    EXPECT_EQ("accepted", refusal({"-start", "-quiet"}));
    EXPECT_EQ("accepted", refusal({"-install", "-config", "c.xml"}));
    EXPECT_EQ("accepted", refusal({"-quiet", "-config", "c.xml", "-test"}));
    EXPECT_EQ("accepted", refusal({"-config", "c.xml", "-scm"}));
}

// Under systemd the console is the journal: the service keeps it, with priority prefixes.
TEST_F(StartupTest, QuietSilencesTheConsoleAndTheServiceWritesToTheJournal) {
    startup({"-config", "c.xml", "-quiet"});
    EXPECT_EQ("setConsoleOutput off", _log.entries()[1]);
    _log.clear();
    auto service = startup({"-scm", "-config", "c.xml"});
    EXPECT_EQ("setConsoleOutput on", _log.entries()[1]);
    EXPECT_EQ("setJournalPrefixes on", _log.entries()[2]);
    EXPECT_TRUE(service->serviceMode());
    EXPECT_EQ("Log: Executing quillmarkserver -scm -config c.xml", _log.entries()[3]);
}

TEST_F(StartupTest, RunsTheServerModesWithTheirSettings) {
    const std::terminate_handler before = std::get_terminate();
    EXPECT_EQ(0, startup({"-config", "console.xml"})->run());
    EXPECT_EQ(0, startup({"-test", "-config", "test.xml"})->run());
    EXPECT_EQ(0, startup({"-config", "service.xml", "-scm"})->run());
    ASSERT_EQ(3u, _server.runs.size());
    EXPECT_EQ("console.xml", _server.runs[0].configPath);
    EXPECT_FALSE(_server.runs[0].testMode);
    EXPECT_FALSE(_server.runs[0].serviceMode);
    EXPECT_EQ("test.xml", _server.runs[1].configPath);
    EXPECT_TRUE(_server.runs[1].testMode);
    EXPECT_FALSE(_server.runs[1].serviceMode);
    EXPECT_FALSE(_server.runs[2].testMode);
    EXPECT_TRUE(_server.runs[2].serviceMode);
    // A terminate handler of start-up's own is current while the mode runs, and only then.
    EXPECT_NE(before, _server.terminateHandlerWhileRunning);
    EXPECT_TRUE(_server.handedTerminateHandler);
    EXPECT_EQ(before, std::get_terminate());
    EXPECT_TRUE(_service.calls.empty());
}

TEST_F(StartupTest, RunsTheServiceControlAndLogsTheirSuccess) {
    EXPECT_EQ(0, startup({"-install", "-config", "rel/config.xml"})->run());
    EXPECT_EQ("Log: Successfully installed the service.", _log.entries().back());
    EXPECT_EQ(0, startup({"-uninstall"})->run());
    EXPECT_EQ("Log: Successfully uninstalled the service.", _log.entries().back());
    EXPECT_EQ(0, startup({"-start"})->run());
    EXPECT_EQ("Log: Successfully started the service.", _log.entries().back());
    EXPECT_EQ(0, startup({"-stop", "-quiet"})->run());
    EXPECT_EQ("Log: Successfully stopped the service.", _log.entries().back());
    const std::vector<std::string> calls = {"install rel/config.xml", "uninstall", "start", "stop"};
    EXPECT_EQ(calls, _service.calls);
    EXPECT_TRUE(_server.runs.empty());
}

TEST_F(StartupTest, AFailingModeIsLoggedAndEndsWithOne) {
    _service.failure = [] {
        throw exceptions::Exception(
            "The service with the name 'Quillmark Server' is not installed.");
    };
    EXPECT_EQ(1, startup({"-stop"})->run());
    EXPECT_EQ(
        "Error: An exception occured when trying to startup the server. The service with the "
        "name 'Quillmark Server' is not installed.",
        _log.entries().back());

    const std::terminate_handler before = std::get_terminate();
    _server.failure = [] { throw std::bad_alloc(); };
    EXPECT_EQ(1, startup({"-config", "c.xml"})->run());
    EXPECT_EQ("Error: Caught a bad alloc exception. std::bad_alloc", _log.entries().back());
    EXPECT_EQ(before, std::get_terminate());
}

TEST(StartupFailureTest, EveryKindOfFailureHasItsMessage) {
    RecordingLog log;
    EXPECT_EQ(7, Startup::reportFailures(&log, [] { return 7; }));
    EXPECT_TRUE(log.entries().empty());

    EXPECT_EQ(1, Startup::reportFailures(
                     &log, []() -> int { throw ArgStartupException("No arguments specified."); }));
    ASSERT_EQ(2u, log.entries().size());
    EXPECT_EQ("Error: No arguments specified.", log.entries()[0]);
    EXPECT_EQ("Log: " + Startup::usageText(), log.entries()[1]);

    const std::vector<std::pair<std::function<int()>, std::string>> cases = {
        {[]() -> int { throw SystemStartupException("The root training path 'x' doesn't exist."); },
         "Error: An exception occured when trying to startup the server. The root training path "
         "'x' doesn't exist."},
        {[]() -> int { throw std::runtime_error("stoi"); }, "Error: Caught an exception. stoi"},
        {[]() -> int { throw 42; },
         "Error: A ... exception occured when trying to startup the server."},
    };
    for (const auto& [body, message] : cases) {
        log.clear();
        EXPECT_EQ(1, Startup::reportFailures(&log, body));
        EXPECT_EQ(std::vector<std::string>{message}, log.entries());
    }
}

}  // namespace
}  // namespace norvale::quillmark
