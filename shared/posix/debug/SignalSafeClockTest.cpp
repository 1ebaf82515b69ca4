#include "posix/debug/SignalSafeClock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "debug/TimeText.h"

namespace {

using posix::debug::SignalSafeClock;

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

TEST(SignalSafeClockTest, LocalClockAgreesWithTheLogsTimeText) {
    const SignalSafeClock local;
    const std::time_t now = SignalSafeClock::now();
    EXPECT_EQ(debug::timeText(now), textOf(local, now));
    char tooSmall[24];
    EXPECT_FALSE(local.timeText(now, tooSmall, sizeof tooSmall));
}

}  // namespace
