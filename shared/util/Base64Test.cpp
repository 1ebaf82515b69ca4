#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"

namespace {

TEST(Base64Test, EncodesAndDecodes) {
    const util::Base64EncoderImpl encoder;
    const util::Base64DecoderImpl decoder;
    for (const auto& [bytes, text] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="}}) {
        EXPECT_EQ(text, encoder.encode(bytes));
        EXPECT_EQ(bytes, decoder.decode(text));
    }
    // Characters outside the alphabet are skipped, a final partial group gives its whole bytes,
    // and decoding stops at NUL.
    const std::vector<std::pair<std::string, std::string>> decoded = {
        {"YW Jj", "abc"}, {"Zm9v\r\nYmFy\n", "foobar"}, {"Z*g==", "f"}, {"====", ""},
        {"Zg", "f"}, {"Zm8", "fo"}, {"YWJjY", "abc"},
        {std::string("YWJj\0Zm9v", 9), "abc"}, {std::string("\0YWJj", 5), ""},
    };
    for (const auto& [text, bytes] : decoded) EXPECT_EQ(bytes, decoder.decode(text)) << text;

    std::string every;
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    for (std::size_t length : {254u, 255u, 256u}) {
        const std::string text = encoder.encode(every.substr(0, length));
        EXPECT_EQ((length + 2) / 3 * 4, text.size());
        EXPECT_EQ(every.substr(0, length), decoder.decode(text));
    }
}

}  // namespace
