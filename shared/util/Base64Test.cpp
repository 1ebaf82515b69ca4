#include <gtest/gtest.h>

#include <string>

#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"

namespace {

const util::Base64EncoderImpl encoder;
const util::Base64DecoderImpl decoder;

TEST(Base64Test, EncodesWithPadding) {
    EXPECT_EQ("YWJj", encoder.encode("abc"));
    EXPECT_EQ("", encoder.encode(""));
    EXPECT_EQ("Zg==", encoder.encode("f"));
    EXPECT_EQ("Zm8=", encoder.encode("fo"));
    EXPECT_EQ("Zm9vYmFy", encoder.encode("foobar"));
    EXPECT_EQ("+/8=", encoder.encode("\xFB\xFF"));
}

TEST(Base64Test, DecodingSkipsCharactersOutsideTheAlphabet) {
    EXPECT_EQ("abc", decoder.decode("YWJj"));
    EXPECT_EQ("abc", decoder.decode("YW Jj"));
    EXPECT_EQ("foobar", decoder.decode("Zm9v\r\nYmFy\n"));
    EXPECT_EQ("fo", decoder.decode("Zm8="));
    EXPECT_EQ("f", decoder.decode("Z*g=="));
    EXPECT_EQ("", decoder.decode(""));
    EXPECT_EQ("", decoder.decode("===="));
}

TEST(Base64Test, FinalPartialGroupGivesItsWholeBytes) {
    EXPECT_EQ("f", decoder.decode("Zg"));
    EXPECT_EQ("fo", decoder.decode("Zm8"));
    EXPECT_EQ("abc", decoder.decode("YWJjY"));  // 6 bits make no byte
}

TEST(Base64Test, DecodingStopsAtNul) {
    EXPECT_EQ("abc", decoder.decode(std::string("YWJj\0Zm9v", 9)));
    EXPECT_EQ("", decoder.decode(std::string("\0YWJj", 5)));
}

TEST(Base64Test, RoundTripOfEveryByteValue) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    for (std::size_t length : {std::size_t{254}, std::size_t{255}, std::size_t{256}}) {
        const std::string input = bytes.substr(0, length);
        const std::string text = encoder.encode(input);
        EXPECT_EQ((length + 2) / 3 * 4, text.size());
        EXPECT_EQ(std::string::npos,
                  text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789+/="));
        EXPECT_EQ(input, decoder.decode(text));
    }
}

}  // namespace
