#include "util/NumberParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t Max32 = std::numeric_limits<std::int32_t>::max();

// The C library's conversion: leading white space and a sign, trailing text ignored; then the
// range is checked at both ends. Beyond 64 bits the conversion saturates.
TEST(NumberParserTest, Integers) {
    struct Case {
        std::string text;
        std::int64_t minimum, maximum;
        std::string result;  // the value, or the message
    };
    const std::vector<Case> cases = {
        {" 42", 0, 65535, "42"},
        {"8080x", 0, 65535, "8080"},
        {"65535", 0, 65535, "65535"},
        {"\t-17", Min32, Max32, "-17"},
        {"-2147483648", Min32, Max32, "-2147483648"},
        {"2147483647", Min32, Max32, "2147483647"},
        {"", 0, 65535, "The empty string cannot be parsed into an integer"},
        {"abc", 0, 65535, "Error parsing the string [abc] to a number"},
        {"65536", 0, 65535, "Error converting [65536] to a number. The number is too large."},
        {"-1", 0, 65535, "Error converting [-1] to a number. The number is too small."},
        {"2147483648", Min32, Max32,
         "Error converting [2147483648] to a number. The number is too large."},
        {"99999999999999999999", Min32, Max32,
         "Error converting [99999999999999999999] to a number. The number is too large."},
    };
    for (const Case& c : cases) {
        std::string result;
        try {
            result = std::to_string(util::parseInteger(c.text, c.minimum, c.maximum));
        } catch (const util::NumberFormatException& e) {
            result = e.what();
        }
        EXPECT_EQ(c.result, result) << c.text;
    }
}

TEST(NumberParserTest, Doubles) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" 0.25", "0.250000"},
        {"-3x", "-3.000000"},
        {"abc", "Error parsing the string [abc] to a double."},
        {"1e-400", "Error parsing the string [1e-400] to a double."},
        {"1e400", "Overflow when converting [1e400] to a double. "},
        {"-inf", "Overflow when converting [-inf] to a double. "},
    };
    for (const auto& [text, expected] : cases) {
        std::string result;
        try {
            result = std::to_string(util::parseDouble(text));
        } catch (const util::NumberFormatException& e) {
            result = e.what();
        }
        EXPECT_EQ(expected, result) << text;
    }
}

}  // namespace
