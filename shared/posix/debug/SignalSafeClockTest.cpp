// The parts of the crash report that must work inside a signal handler: text in fixed buffers,
// the dump file's name and the clock.
#include "posix/debug/SignalSafeClock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <limits>
#include <string>

#include "debug/TimeText.h"
#include "posix/debug/DumpFileName.h"
#include "posix/debug/FixedText.h"

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
        std::strftime(reference, sizeof reference, "%a %b %d %H:%M:%S %Y",
                      gmtime_r(&when, &fields));
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
