#include "posix/debug/FixedText.h"

#include <gtest/gtest.h>

#include <limits>

#include "posix/debug/DumpFileName.h"

namespace {

using posix::debug::FixedText;

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

}  // namespace
