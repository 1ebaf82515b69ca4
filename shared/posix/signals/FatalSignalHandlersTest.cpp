#include "posix/signals/FatalSignalHandlers.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/PlatformTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadImpl.h"

namespace {

namespace fs = std::filesystem;
using posix::signals::FatalSignalHandlers;

struct FakeLog : posix::signals::FatalSignalLog {
    bool errorsToConsole() const noexcept override { return true; }
    bool errorsToFile() const noexcept override { return true; }
    const char* logFilePath() const noexcept override { return file.c_str(); }
    const char* dumpFolder() const noexcept override { return folder.c_str(); }
    const char* consoleErrorPrefix() const noexcept override { return prefix; }
    std::string file, folder;
    const char* prefix = "";
};

class FakeMapper : public platform::thread::SehExceptionMapper {
public:
    void describe(std::uint32_t code, std::string& text) const override {
        text += "Described " + std::to_string(code);
    }
};

// Faults the sanitizers must not intercept first: the point is the signal.
__attribute__((noinline, no_sanitize_undefined)) void dereferenceNull() {
    // A volatile pointer: the compiler cannot see that it is null and drop the store.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

// The limit is never reached: the stack runs out long before.
__attribute__((noinline)) int recurseForever(long depth) {
    volatile char frame[1024];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    if (depth == 1L << 40) return frame[0];
    return recurseForever(depth + 1) + frame[(depth + 1) % sizeof frame];
}

template <class Body>
class Call : public platform::thread::Runnable {
public:
    explicit Call(Body body) : _body(body) {}
    void run() override { _body(); }

private:
    Body _body;
};

class FatalSignalHandlersTest : public ::testing::Test {
protected:
    // In the dying child: install the handlers and run body on a thread named "Crasher", with
    // standard output sent where the death test reads.
    template <class Body>
    void crashOnThread(Body body) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        FatalSignalHandlers handlers(&_mapper, &_log);
        platform::thread::OsInfoImpl osInfo;
        Call<Body> call(body);
        platform::thread::ThreadImpl thread(&osInfo, &call, "Crasher");
        thread.start();
        thread.join();
        std::_Exit(0);
    }

    std::string logged() const { return platform::testing::readFile(_folder.path() / "log.txt"); }

    // The dumps in the folder.
    std::vector<fs::path> dumps() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(_folder.path())) {
            if (entry.path().extension() == ".dmp") found.push_back(entry.path());
        }
        return found;
    }

    platform::testing::TempFolder _folder;
    FakeLog _log;
    void SetUp() override {
        _log.file = (_folder.path() / "log.txt").string();
        _log.folder = _folder.path().string() + "/";
    }
    FakeMapper _mapper;
};

// The log line itself is checked where start-up wires the server's log; here the console text
// (under journald every console line carries the log's prefix, the file gets none) and the crash
// report.
TEST_F(FatalSignalHandlersTest, NullDereferenceInAThreadIsReportedOnTheConsoleAndInTheDump) {
    _log.prefix = "<2>";
    EXPECT_EXIT(crashOnThread([] { dereferenceNull(); }), ::testing::KilledBySignal(SIGSEGV),
                "A SEH exception occurred in one of the running threads\\.\n<2>Thread name: "
                "Crasher\\.\n<2>Thread id: [0-9]+\\.\n<2>Described 3221225477\n<2>Dump is here: ");
    EXPECT_EQ(std::string::npos, logged().find("<2>"));
    const auto found = dumps();
    ASSERT_EQ(1u, found.size());
    EXPECT_NE(std::string::npos, logged().find("Dump is here: " + found[0].string() + "\n"));
    const std::string report = platform::testing::readFile(found[0]);
    EXPECT_EQ(0u, report.find("Crash report\n")) << report.substr(0, 300);
    EXPECT_NE(std::string::npos, report.find("\nThread name: Crasher\n"));
    EXPECT_NE(std::string::npos,
              report.find("Fatal signal: SIGSEGV (11), code 1, address 0x0\nDescribed 3221225477"));
    EXPECT_TRUE(std::regex_search(report, std::regex("\nTime: [A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} "
                                                     "[0-9:]{8} [0-9]{4}\n")));
    // The backtrace holds at least the crashing function and the frames above it.
    const auto backtrace = report.find("Backtrace of the thread:\n");
    const auto status = report.find("\n/proc/self/status:\nName:");
    const auto maps = report.find("\n/proc/self/maps:\n");
    ASSERT_TRUE(backtrace < status && status < maps && maps != std::string::npos) << report;
    EXPECT_GT(std::count(report.begin() + backtrace, report.begin() + status, '\n'), 3);
    EXPECT_NE(std::string::npos, report.find("PosixSignalsTest", maps));
}

// Only an alternate stack lets the handler run once the thread's own stack is used up.
TEST_F(FatalSignalHandlersTest, StackOverflowInAThreadIsStillReported) {
    EXPECT_EXIT(crashOnThread([] { recurseForever(0); }), ::testing::KilledBySignal(SIGSEGV),
                "Thread name: Crasher\\.\n");
    EXPECT_NE(std::string::npos, logged().find("\nDescribed 3221225477\nDump is here: "));
    EXPECT_EQ(1u, dumps().size());
}

TEST_F(FatalSignalHandlersTest, UncreatableReportIsExplainedInTheLine) {
    std::ofstream(_folder.path() / "plain") << "x";
    const std::string folder = (_folder.path() / "plain").string() + "/";
    _log.folder = folder;
    EXPECT_EXIT(
        {
            FatalSignalHandlers handlers(&_mapper, &_log);
            dereferenceNull();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_NE(std::string::npos,
              logged().find("Failed to create dump (" + folder + "dump_threadid_"));
    EXPECT_NE(std::string::npos, logged().find(".\n\n" + platform::errorresources::systemErrorText(ENOTDIR) + "\n\n"));
}

}  // namespace
