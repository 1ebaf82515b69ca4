#include "debug/TimeText.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(TimeTextTest, TwentyFourCharactersWithTwoDigitDay) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // 2026-12-06 04:21:53 UTC, a Sunday: the day keeps its leading zero.
    EXPECT_EQ("Sun Dec 06 04:21:53 2026", debug::timeText(1796530913));
    // 2000-02-29 23:59:59 UTC.
    EXPECT_EQ("Tue Feb 29 23:59:59 2000", debug::timeText(951868799));
}

TEST(TimeTextTest, RefusesABufferTooSmall) {
    char buffer[24];
    EXPECT_FALSE(debug::formatTimeText(0, buffer, sizeof buffer));
}

}  // namespace
