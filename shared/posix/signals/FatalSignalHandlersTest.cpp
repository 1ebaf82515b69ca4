// The crash report of a fatal signal, and its parts: text in fixed buffers, the signal-safe clock,
// the dump file's name and the report file itself.
#include "posix/signals/FatalSignalHandlers.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <string>

#include "debug/TimeText.h"
#include "platform/PlatformTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadImpl.h"
#include "posix/debug/CrashReportWriter.h"
#include "posix/debug/DumpFileName.h"
#include "posix/debug/FixedText.h"
#include "posix/debug/SignalSafeClock.h"
#include "posix/debug/WriteDumpImpl.h"

namespace {

namespace fs = std::filesystem;
using posix::debug::FixedText;
using posix::debug::SignalSafeClock;
using posix::signals::FatalSignalHandlers;

struct FakeLog : posix::signals::FatalSignalLog {
    explicit FakeLog(const fs::path& logs)
        : file((logs / "log.txt").string()), folder(logs.string() + "/") {}
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

class FatalSignalHandlersTest : public ::testing::Test {
protected:
    // In the dying child: install the handlers and run body on a thread named "Crasher", with
    // standard output sent where the death test reads.
    void crashOnThread(std::function<void()> body) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        FatalSignalHandlers handlers(&_mapper, &_log);
        platform::thread::OsInfoImpl osInfo;
        platform::testing::Call call(std::move(body));
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
    FakeLog _log{_folder.path()};
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

// Numbers at their limits; an overflow cuts and stays terminated; a dump name keeps seconds
// beyond 32 bits exact, and one that does not fit is refused.
TEST(FixedTextTest, NumbersAtTheirLimitsAndOverflow) {
    char buffer[128];
    FixedText text(buffer, sizeof buffer);
    text.appendDecimal(std::uint64_t{0}).append("|");
    text.appendDecimal(std::numeric_limits<std::uint64_t>::max()).append("|");
    text.appendDecimal(std::numeric_limits<std::int64_t>::min()).append("|");
    text.appendHex(0).append("|").appendHex(0xC0000005u);
    EXPECT_STREQ("0|18446744073709551615|-9223372036854775808|0x0|0xc0000005", text.text());
    EXPECT_FALSE(text.truncated());

    FixedText small(buffer, 6);
    small.append("abc").append("defgh").appendDecimal(std::uint64_t{42});
    EXPECT_STREQ("abcde", small.text());
    EXPECT_EQ(5u, small.length());
    EXPECT_TRUE(small.truncated());

    EXPECT_EQ("/tmp/x/dump_threadid_4294967295_time_5000000000.dmp",
              posix::debug::dumpFileName("/tmp/x/", 4294967295u, 5000000000));
    EXPECT_FALSE(posix::debug::formatDumpFileName("./logs/", 1, 2, buffer, 16));
}

std::string textOf(const SignalSafeClock& clock, std::time_t when) {
    char buffer[32];
    EXPECT_TRUE(clock.timeText(when, buffer, sizeof buffer));
    return buffer;
}

// The edges of the range, offsets, and the C library's UTC rendering over centuries (the day
// with its leading zero); the local clock agrees with the log's own time text.
TEST(SignalSafeClockTest, AgreesWithTheCalendarOverCenturies) {
    EXPECT_EQ("Wed Dec 31 23:59:59 1969", textOf(SignalSafeClock(0), -1));
    EXPECT_EQ("Fri Dec 31 23:59:59 9999", textOf(SignalSafeClock(0), 253402300799));
    EXPECT_EQ("Wed Dec 31 23:00:00 1969", textOf(SignalSafeClock(-3600), 0));
    EXPECT_EQ("Fri Jan 01 05:30:00 2100", textOf(SignalSafeClock(19800), 4102444800));
    const SignalSafeClock utc(0);
    char reference[64];
    // A step that is prime and not a whole number of days visits every time of day and weekday.
    for (std::time_t when = -2208988800; when < 4200000000; when += 86400 * 13 + 3607) {
        std::tm fields{};
        std::strftime(reference, sizeof reference, "%a %b %d %H:%M:%S %Y", gmtime_r(&when, &fields));
        ASSERT_EQ(reference, textOf(utc, when)) << when;
    }
    const SignalSafeClock local;
    for (const std::time_t when : {SignalSafeClock::now(), std::time_t{1796530913}}) {
        EXPECT_EQ(debug::timeText(when), textOf(local, when));
    }
    char tooSmall[24];
    EXPECT_FALSE(local.timeText(0, tooSmall, sizeof tooSmall));
    EXPECT_FALSE(debug::formatTimeText(0, tooSmall, sizeof tooSmall));
}

}  // namespace
