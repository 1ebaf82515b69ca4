#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "util/FixedStream.h"
#include "util/StringStream.h"

namespace {

TEST(FixedStreamTest, WritesTextCharactersAndIntegers) {
    util::FixedStream<64> stream;
    stream << "port " << std::string("=") << ' ' << std::uint16_t{8080} << ' '
           << std::numeric_limits<std::int64_t>::min() << ' '
           << std::numeric_limits<std::uint64_t>::max();
    EXPECT_STREQ("port = 8080 -9223372036854775808 18446744073709551615", stream.c_str());
    EXPECT_EQ(std::string(stream.c_str()).size(), stream.size());
}

TEST(FixedStreamTest, TruncatesSilentlyAndKeepsTheNul) {
    util::FixedStream<8> stream;
    stream << "abcde" << 12345 << "more";
    EXPECT_EQ(7u, stream.size());
    EXPECT_EQ("abcde12", stream.str());
    EXPECT_EQ('\0', stream.c_str()[7]);
    stream << 'x';
    EXPECT_EQ("abcde12", stream.str());
}

TEST(StringStreamTest, GrowsBeyondItsInlineBufferWithoutLosingText) {
    util::StringStream stream;
    EXPECT_EQ(4097u, stream.capacity());
    const std::string block(1000, 'a');
    std::string expected;
    for (int i = 0; i < 9; ++i) {
        stream << block << i;
        expected += block + std::to_string(i);
    }
    stream << -1 << 'z';
    expected += "-1z";
    EXPECT_EQ(expected, stream.str());
    EXPECT_EQ(expected.size(), stream.size());
    EXPECT_GT(stream.capacity(), 4097u);
    EXPECT_EQ('\0', stream.c_str()[stream.size()]);
}

TEST(StringStreamTest, ExactlyFullInlineBufferStaysInline) {
    util::StringStream stream;
    stream << std::string(4096, 'b');
    EXPECT_EQ(4097u, stream.capacity());
    stream << 'c';
    EXPECT_GT(stream.capacity(), 4097u);
    EXPECT_EQ(std::string(4096, 'b') + "c", stream.str());
}

TEST(StringStreamTest, AppendingItsOwnContentWhileGrowing) {
    util::StringStream stream;
    stream << std::string(3000, 'q');
    stream << std::string_view(stream.c_str(), stream.size());
    EXPECT_EQ(std::string(6000, 'q'), stream.str());
    stream << std::string_view(stream.c_str(), stream.size());
    EXPECT_EQ(std::string(12000, 'q'), stream.str());
}

}  // namespace
