// The parts of a crash report: text in fixed buffers, the signal-safe clock, the dump file's name
// and the report file itself.
#include "posix/debug/CrashReportWriter.h"

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "debug/TimeText.h"
#include "platform/PlatformTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "posix/debug/DumpFileName.h"
#include "posix/debug/FixedText.h"
#include "posix/debug/SignalSafeClock.h"
#include "posix/debug/WriteDumpImpl.h"

namespace {

using posix::debug::FixedText;
using posix::debug::SignalSafeClock;

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
    EXPECT_TRUE(small.contains('e'));
    EXPECT_FALSE(small.contains('f'));

    EXPECT_EQ("/tmp/x/dump_threadid_4294967295_time_5000000000.dmp",
              posix::debug::dumpFileName("/tmp/x/", 4294967295u, 5000000000));
    EXPECT_FALSE(posix::debug::formatDumpFileName("./logs/", 1, 2, buffer, 16));
}

std::string textOf(const SignalSafeClock& clock, std::time_t when) {
    char buffer[32];
    EXPECT_TRUE(clock.timeText(when, buffer, sizeof buffer));
    return buffer;
}

// The C library's UTC rendering, as reference for every second the loop below picks.
std::string utcReference(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a %b %d %H:%M:%S %Y", &utc);
    return buffer;
}

// The edges of the range, offsets, and the C library's UTC rendering over centuries.
TEST(SignalSafeClockTest, AgreesWithTheCalendarOverCenturies) {
    EXPECT_EQ("Wed Dec 31 23:59:59 1969", textOf(SignalSafeClock(0), -1));
    EXPECT_EQ("Fri Dec 31 23:59:59 9999", textOf(SignalSafeClock(0), 253402300799));
    EXPECT_EQ("Wed Dec 31 23:00:00 1969", textOf(SignalSafeClock(-3600), 0));
    EXPECT_EQ("Fri Jan 01 05:30:00 2100", textOf(SignalSafeClock(19800), 4102444800));
    const SignalSafeClock utc(0);
    // A step that is prime and not a whole number of days visits every time of day and weekday.
    for (std::time_t when = -2208988800; when < 4200000000; when += 86400 * 13 + 3607) {
        ASSERT_EQ(utcReference(when), textOf(utc, when)) << when;
    }
}

// The log's own time text (debug::timeText) is the C library's local time; the day keeps its
// leading zero.
TEST(SignalSafeClockTest, LocalClockAgreesWithTheLogsTimeText) {
    const SignalSafeClock local;
    for (const std::time_t when : {SignalSafeClock::now(), std::time_t{1796530913}}) {
        EXPECT_EQ(debug::timeText(when), textOf(local, when));
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ("Sun Dec 06 04:21:53 2026", debug::timeText(1796530913));
    char tooSmall[24];
    EXPECT_FALSE(local.timeText(0, tooSmall, sizeof tooSmall));
    EXPECT_FALSE(debug::formatTimeText(0, tooSmall, sizeof tooSmall));
}

// The report's content is checked where the fatal-signal handler writes it
// (FatalSignalHandlersTest). Here: an existing file is replaced, and a file-size limit makes the
// writes fail half-way, as a full disk would: the half-written report is removed and the reason
// given. Runs in a child so the limit dies with it.
TEST(WriteDumpImplTest, ReplacesAnOldFileAndDeletesAHalfWrittenOne) {
    const platform::testing::TempFolder folder;
    const std::string path = (folder.path() / "cut.dmp").string();
    const std::string result = (folder.path() / "result.txt").string();
    std::ofstream(path) << std::string(2000000, 'x');
    posix::debug::WriteDumpImpl().write(path);
    const std::string report = platform::testing::readFile(path);
    EXPECT_EQ(0u, report.find("Crash report\n"));
    EXPECT_LT(report.size(), 2000000u);
    rlimit small{}, unlimited{};
    small.rlim_cur = 300;
    small.rlim_max = unlimited.rlim_cur = unlimited.rlim_max = RLIM_INFINITY;
    EXPECT_EXIT(
        {
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &small);
            std::string message = "no exception";
            try {
                posix::debug::WriteDumpImpl().write(path);
            } catch (const posix::debug::WriteDumpException& e) {
                message = e.what();
            }
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            std::ofstream(result) << message;
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ("Couldn't write dump.\n\n" + platform::errorresources::systemErrorText(EFBIG),
              platform::testing::readFile(result));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
