#include "util/NumberParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

using util::NumberFormatException;
using util::parseDouble;
using util::parseInteger;

constexpr std::int64_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t Int32Max = std::numeric_limits<std::int32_t>::max();

std::string integerError(const std::string& text, std::int64_t minimum, std::int64_t maximum) {
    try {
        parseInteger(text, minimum, maximum);
    } catch (const NumberFormatException& e) {
        return e.what();
    }
    return "no exception";
}

std::string doubleError(const std::string& text) {
    try {
        parseDouble(text);
    } catch (const NumberFormatException& e) {
        return e.what();
    }
    return "no exception";
}

TEST(NumberParserTest, IntegerFollowsTheCLibraryConversion) {
    EXPECT_EQ(42, parseInteger(" 42", 0, 65535));
    EXPECT_EQ(42, parseInteger("42abc", 0, 65535));
    EXPECT_EQ(8080, parseInteger("8080x", 0, 65535));
    EXPECT_EQ(0, parseInteger("0", 0, 65535));
    EXPECT_EQ(-17, parseInteger("\t-17", Int32Min, Int32Max));
    EXPECT_EQ(5, parseInteger("+5", Int32Min, Int32Max));
    EXPECT_EQ(Int32Min, parseInteger("-2147483648", Int32Min, Int32Max));
    EXPECT_EQ(Int32Max, parseInteger("2147483647", Int32Min, Int32Max));
    EXPECT_EQ(65535, parseInteger("65535", 0, 65535));
}

TEST(NumberParserTest, IntegerTextWithoutANumberFails) {
    EXPECT_EQ("The empty string cannot be parsed into an integer", integerError("", 0, 65535));
    EXPECT_EQ("Error parsing the string [abc] to a number", integerError("abc", 0, 65535));
    EXPECT_EQ("Error parsing the string [ ] to a number", integerError(" ", 0, 65535));
    EXPECT_EQ("Error parsing the string [-] to a number", integerError("-", 0, 65535));
}

TEST(NumberParserTest, IntegerRangeIsCheckedAtBothEnds) {
    EXPECT_EQ("Error converting [70000] to a number. The number is too large.",
              integerError("70000", 0, 65535));
    EXPECT_EQ("Error converting [65536] to a number. The number is too large.",
              integerError("65536", 0, 65535));
    EXPECT_EQ("Error converting [-1] to a number. The number is too small.",
              integerError("-1", 0, 65535));
    EXPECT_EQ("Error converting [2147483648] to a number. The number is too large.",
              integerError("2147483648", Int32Min, Int32Max));
    EXPECT_EQ("Error converting [-2147483649] to a number. The number is too small.",
              integerError("-2147483649", Int32Min, Int32Max));
    // Beyond 64 bits the conversion saturates, which the range check then reports.
    EXPECT_EQ("Error converting [99999999999999999999] to a number. The number is too large.",
              integerError("99999999999999999999", Int32Min, Int32Max));
}

TEST(NumberParserTest, Double) {
    EXPECT_DOUBLE_EQ(0.25, parseDouble(" 0.25"));
    EXPECT_DOUBLE_EQ(-3.0, parseDouble("-3x"));
    EXPECT_DOUBLE_EQ(0.0, parseDouble("0"));
    EXPECT_EQ("Error parsing the string [abc] to a double.", doubleError("abc"));
    EXPECT_EQ("Error parsing the string [] to a double.", doubleError(""));
    EXPECT_EQ("Error parsing the string [1e-400] to a double.", doubleError("1e-400"));
    EXPECT_EQ("Overflow when converting [1e400] to a double. ", doubleError("1e400"));
    EXPECT_EQ("Overflow when converting [-inf] to a double. ", doubleError("-inf"));
}

}  // namespace
