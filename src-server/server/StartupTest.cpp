#include "server/Startup.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/MessageOf.h"
#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

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
        const StartupServices services{.log = &_log,
                                       .logSettings = &_log,
                                       .existsDir = &_machine,
                                       .createFolder = &_machine,
                                       .currentDirectory = &_machine,
                                       .executable = &_machine};
        return std::make_unique<Startup>(static_cast<int>(args.size()), args.data(), services,
                                         &_machine, &_machine);
    }
    // What start-up makes of a command line: its refusal, or the call of its mode ("service"
    // added when it runs as one) and what it logged after the log file was switched on, the
    // command line itself shortened to "Executing".
    std::string outcome(const std::vector<const char*>& args) {
        std::string text, executing = "Log: Executing quillmarkserver";
        for (const char* arg : args) executing += std::string(" ") + arg;
        try {
            auto mode = startup(args);
            EXPECT_EQ(0, mode->run());
            text = _machine.calls.at(1) + (mode->serviceMode() ? " service" : "");
            for (const std::string& entry : _log.entries()) {
                text += "; " + (entry == executing ? "Executing" : entry);
            }
        } catch (const ArgStartupException& e) {
            text = e.what();
        }
        // The executable's folder is entered and the log file is on before the words are read.
        EXPECT_EQ("cd /opt/quillmark/", _machine.calls.at(0));
        EXPECT_EQ("setFileOutput on", _log.entries().at(0));
        EXPECT_EQ(_machine.outside, std::get_terminate());
        return text;
    }

    testing::RecordingLog _log;
    Machine _machine;
};

// The first mode word found decides, wherever it stands; each mode takes only its own flags and
// runs with its settings; under systemd the console is the journal, with priority prefixes;
// -quiet silences the console. Without a log folder nothing starts.
TEST_F(StartupTest, EachModeAcceptsOnlyItsOwnFlagsAndRunsWithItsSettings) {
    const std::string noConfig = "The non optional flag -config was not found.";
    const std::string console = "; setFileOutput on; setConsoleOutput on; setJournalPrefixes off";
    const std::string quiet = "; setFileOutput on; setConsoleOutput off; setJournalPrefixes off";
    const std::pair<std::vector<const char*>, std::string> cases[] = {
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
        {{"-config", "console.xml"}, "run console.xml handler" + console + "; Executing"},
        {{"-quiet", "-config", "t.xml", "-test"}, "run t.xml test handler" + quiet + "; Executing"},
        {{"-config", "s.xml", "-scm", "-quiet"},
         "run s.xml service handler service; setFileOutput on; setConsoleOutput off; "
         "setJournalPrefixes on; Executing"},
        {{"-install", "-config", "rel/config.xml"},
         "install rel/config.xml" + console +
             "; Executing; Log: Successfully installed the service."},
        {{"-uninstall"},
         "uninstall" + console + "; Executing; Log: Successfully uninstalled the service."},
        {{"-start"}, "start" + console + "; Executing; Log: Successfully started the service."},
        {{"-stop", "-quiet"},
         "stop" + quiet + "; Executing; Log: Successfully stopped the service."},
    };
    for (const auto& [args, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, outcome(args));
    }
    _machine.logFolder = false;
    EXPECT_EQ("The directory './logs/' doesn't exist. Make sure you create it!",
              testing::messageOf<SystemStartupException>([&] {
                  startup({"-config", "c.xml"});
              }));
    EXPECT_TRUE(_log.entries().empty());
}

// Whatever escapes a mode is logged by its kind and ends start-up with 1.
TEST_F(StartupTest, EveryKindOfFailureIsLoggedAndEndsWithOne) {
    const std::string failed = "Error: An exception occured when trying to startup the server. ";
    const std::pair<std::function<void()>, Lines> cases[] = {
        {[] { throw ArgStartupException("No arguments specified."); },
         {"Error: No arguments specified.", "Log: " + Startup::usageText()}},
        {[] { throw exceptions::Exception("Not installed."); }, {failed + "Not installed."}},
        {[] { throw std::bad_alloc(); }, {"Error: Caught a bad alloc exception. std::bad_alloc"}},
        {[] { throw std::runtime_error("stoi"); }, {"Error: Caught an exception. stoi"}},
        {[] { throw 42; }, {"Error: A ... exception occured when trying to startup the server."}},
    };
    for (const auto& [failure, logged] : cases) {
        _log.clear();
        EXPECT_EQ(1, Startup::reportFailures(&_log, [&] { return failure(), 0; }));
        EXPECT_EQ(logged, _log.entries());
    }
    _log.clear();
    EXPECT_EQ(7, Startup::reportFailures(&_log, [] { return 7; }));
    EXPECT_TRUE(_log.entries().empty());
    // Each mode runs inside it, and start-up's terminate handler goes again.
    for (const std::vector<const char*>& mode : {std::vector{"-stop"}, {"-config", "c"}}) {
        auto failing = startup(mode);
        _machine.failure = [] { throw std::bad_alloc(); };
        EXPECT_EQ(1, failing->run()) << mode[0];
        EXPECT_EQ("Error: Caught a bad alloc exception. std::bad_alloc", _log.entries().back());
        EXPECT_EQ(_machine.outside, std::get_terminate());
    }
}

}  // namespace
}  // namespace norvale::quillmark
