#include "server/Startup.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

using testing::RecordingLog;
using Lines = std::vector<std::string>;

// The executable's folder and the modes start-up runs: every call is recorded in `calls`, and a
// mode throws `failure` when one is set.
class Machine : public posix::file::CreateFolder,
                public io::filesystem::ExistsDir,
                public posix::file::CurrentDirectory,
                public posix::file::Module,
                public ServiceControl,
                public ServerRunner {
public:
    void create(const std::string&, bool) const override {
        if (!logFolder) throw posix::file::CreateFolderException("Could not create.");
    }
    bool exists(const std::string& path) const override { return logFolder && path == "./logs/"; }
    void set(const std::string& path) override { calls.push_back("cd " + path); }
    std::string get() const override { return ""; }
    std::string fileName() const override { return "\"/opt/quillmark/quillmarkserver\""; }
    void install(const std::string& configPath) override { act("install " + configPath); }
    void uninstall() override { act("uninstall"); }
    void start() override { act("start"); }
    void stop() override { act("stop"); }
    void runServer(const ServerRunSettings& settings, platform::event::Event* stopEvent,
                   TerminateHandler* handler) override {
        // Start-up's own terminate handler is current while the mode runs, and handed to it.
        const bool ownHandler = handler != nullptr && std::get_terminate() != outside;
        act("run " + settings.configPath + (settings.testMode ? " test" : "") +
            (settings.serviceMode ? " service" : "") + (ownHandler ? " handler" : ""));
        if (settings.testMode) stopEvent->wait();  // set at construction: returns at once
    }

    bool logFolder = true;
    std::function<void()> failure;
    Lines calls;
    const std::terminate_handler outside = std::get_terminate();

private:
    void act(const std::string& call) {
        calls.push_back(call);
        if (failure) failure();
    }
};

class StartupTest : public ::testing::Test {
protected:
    std::unique_ptr<Startup> startup(std::vector<const char*> args) {
        _log.clear();
        _machine.calls.clear();
        args.insert(args.begin(), "quillmarkserver");
        StartupServices services;
        services.log = &_log;
        services.logSettings = &_log;
        services.createFolder = &_machine;
        services.existsDir = &_machine;
        services.currentDirectory = &_machine;
        services.executable = &_machine;
        return std::make_unique<Startup>(static_cast<int>(args.size()), args.data(), services,
                                         &_machine, &_machine);
    }
    // The message of the ArgStartupException the command line ends with, "accepted" without.
    std::string refusal(std::vector<const char*> args) {
        try {
            startup(std::move(args));
        } catch (const ArgStartupException& e) {
            return e.what();
        }
        return "accepted";
    }

    RecordingLog _log;
    Machine _machine;
};

// The first mode word found decides, wherever it stands; each mode takes only its own flags.
TEST_F(StartupTest, EachModeAcceptsOnlyItsOwnFlags) {
    const std::string noConfig = "The non optional flag -config was not found.";
    const struct {
        std::vector<const char*> args;
        std::string refusal;
    } cases[] = {
        {{}, "No arguments specified."},
        {{"-config"}, "Not enough arguments for the flag -config. 1 is required."},
        {{"-install"}, noConfig},
        {{"-quiet"}, noConfig},
        {{"-test"}, noConfig},
        {{"-scm"}, noConfig},
        {{"-uninstall", "-config", "c.xml"}, "The flag -config is not allowed"},
        {{"-start", "-config", "c.xml"}, "The flag -config is not allowed"},
        {{"-stop", "-test"}, "The flag -test is not allowed"},
        {{"-config", "c.xml", "-quiet", "-quiet"}, "The flag -quiet was used more than once."},
        {{"-install", "-scm", "-config", "c"}, "The flag -install is not allowed"},
        {{"-test", "-start"}, "The flag -test is not allowed"},
        {{"-start", "-quiet"}, "accepted"},
        {{"-quiet", "-config", "c.xml", "-test"}, "accepted"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.refusal);
        EXPECT_EQ(row.refusal, refusal(row.args));
        // The executable's folder is entered and the log file is on before the words are read.
        EXPECT_EQ(Lines{"cd /opt/quillmark/"}, _machine.calls);
        EXPECT_EQ("setFileOutput on", _log.entries().at(0));
    }
    _machine.logFolder = false;
    try {
        startup({"-config", "config.xml"});
        ADD_FAILURE() << "accepted without a log folder";
    } catch (const SystemStartupException& e) {
        EXPECT_EQ(std::string("The directory './logs/' doesn't exist. Make sure you create it!"),
                  e.what());
    }
    EXPECT_TRUE(_log.entries().empty());
}

// Under systemd the console is the journal, with priority prefixes; -quiet silences it.
TEST_F(StartupTest, EachModeRunsWithItsSettingsAndLogsItsSuccess) {
    const struct {
        std::vector<const char*> args;
        std::string console, journal, call, success;
    } cases[] = {
        {{"-config", "console.xml"}, "on", "off", "run console.xml handler", ""},
        {{"-test", "-config", "test.xml"}, "on", "off", "run test.xml test handler", ""},
        {{"-config", "s.xml", "-scm", "-quiet"}, "off", "on", "run s.xml service handler", ""},
        {{"-install", "-config", "rel/config.xml"},
         "on",
         "off",
         "install rel/config.xml",
         "installed"},
        {{"-uninstall"}, "on", "off", "uninstall", "uninstalled"},
        {{"-start"}, "on", "off", "start", "started"},
        {{"-stop", "-quiet"}, "off", "off", "stop", "stopped"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.call);
        auto mode = startup(row.args);
        EXPECT_EQ(row.journal == "on", mode->serviceMode());
        EXPECT_EQ(0, mode->run());
        std::string command = "quillmarkserver";
        for (const char* arg : row.args) command += std::string(" ") + arg;
        Lines expected{"setFileOutput on", "setConsoleOutput " + row.console,
                       "setJournalPrefixes " + row.journal, "Log: Executing " + command};
        if (!row.success.empty()) {
            expected.push_back("Log: Successfully " + row.success + " the service.");
        }
        EXPECT_EQ(expected, _log.entries());
        EXPECT_EQ((Lines{"cd /opt/quillmark/", row.call}), _machine.calls);
        EXPECT_EQ(_machine.outside, std::get_terminate());
    }
}

// Whatever escapes a mode is logged by its kind and ends start-up with 1.
TEST_F(StartupTest, EveryKindOfFailureIsLoggedAndEndsWithOne) {
    const std::string startupFailed =
        "Error: An exception occured when trying to startup the server. ";
    const struct {
        std::function<void()> failure;
        Lines logged;
    } cases[] = {
        {[] { throw ArgStartupException("No arguments specified."); },
         {"Error: No arguments specified.", "Log: " + Startup::usageText()}},
        {[] { throw exceptions::Exception("The service is not installed."); },
         {startupFailed + "The service is not installed."}},
        {[] { throw std::bad_alloc(); }, {"Error: Caught a bad alloc exception. std::bad_alloc"}},
        {[] { throw std::runtime_error("stoi"); }, {"Error: Caught an exception. stoi"}},
        {[] { throw 42; }, {"Error: A ... exception occured when trying to startup the server."}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.front());
        for (const std::vector<const char*>& mode : {std::vector{"-stop"}, {"-config", "c"}}) {
            auto failing = startup(mode);
            _machine.failure = row.failure;
            _log.clear();
            EXPECT_EQ(1, failing->run()) << mode[0];
            _machine.failure = nullptr;
            EXPECT_EQ(row.logged, _log.entries()) << mode[0];
            EXPECT_EQ(_machine.outside, std::get_terminate());
        }
    }
    RecordingLog log;
    EXPECT_EQ(7, Startup::reportFailures(&log, [] { return 7; }));
    EXPECT_TRUE(log.entries().empty());
}

}  // namespace
}  // namespace norvale::quillmark
