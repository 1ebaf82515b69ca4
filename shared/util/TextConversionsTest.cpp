// Conversions of text: numbers, Base64, case folding and XML escaping.
#include "util/NumberParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"
#include "util/EscapeXml.h"
#include "util/StringHelper.h"

namespace {

// The value, or the message of the NumberFormatException.
template <class Parse>
std::string resultOf(Parse parse) {
    try {
        return std::to_string(parse());
    } catch (const util::NumberFormatException& e) {
        return e.what();
    }
}

// The C library's conversion: leading white space and a sign, trailing text ignored; then the
// range is checked at both ends (the messages of a number out of range are checked where the
// configuration is read). Beyond 64 bits the conversion saturates.
TEST(NumberParserTest, IntegersAndDoubles) {
    const std::int64_t min32 = std::numeric_limits<std::int32_t>::min();
    const std::int64_t max32 = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::string text;
        std::int64_t minimum, maximum;
        std::string result;
    } integers[] = {
        {" 42", 0, 65535, "42"},
        {"8080x", 0, 65535, "8080"},
        {"65535", 0, 65535, "65535"},
        {"\t-17", min32, max32, "-17"},
        {"-2147483648", min32, max32, "-2147483648"},
        {"2147483647", min32, max32, "2147483647"},
        {"", 0, 65535, "The empty string cannot be parsed into an integer"},
        {"abc", 0, 65535, "Error parsing the string [abc] to a number"},
        {"99999999999999999999", min32, max32,
         "Error converting [99999999999999999999] to a number. The number is too large."},
    };
    for (const auto& c : integers) {
        EXPECT_EQ(c.result, resultOf([&] { return util::parseInteger(c.text, c.minimum, c.maximum); }))
            << c.text;
    }
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
             {" 0.25", "0.250000"},
             {"-3x", "-3.000000"},
             {"abc", "Error parsing the string [abc] to a double."},
             {"1e-400", "Error parsing the string [1e-400] to a double."},
             {"1e400", "Overflow when converting [1e400] to a double. "},
             {"-inf", "Overflow when converting [-inf] to a double. "}}) {
        EXPECT_EQ(expected, resultOf([&] { return util::parseDouble(text); })) << text;
    }
}

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

}

TEST(StringHelperTest, FoldingEscapingAndNarrowing) {
    EXPECT_EQ("\xC3\x89t\xC3\xa9@[`{spam.dat",
              util::StringHelper::toLower("\xC3\x89T\xC3\xa9@[`{SpAm.DAT"));
    EXPECT_EQ("a &amp; b &quot;c&quot; &lt;d&gt; it's &amp;amp;",
              util::escapeXml("a & b \"c\" <d> it's &amp;"));
    EXPECT_EQ(std::string("\0\x01\xC3\xA9\xFF", 5), util::escapeXml(std::string("\0\x01\xC3\xA9\xFF", 5)));
}

}  // namespace
