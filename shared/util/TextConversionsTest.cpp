// Conversions of text (numbers, Base64, case folding), the command-line parser and the exception
// that carries every message. (XML escaping is checked in the error documents that use it,
// XmlErrorResponseImplTest.)
#include "util/NumberParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "exceptions/Exception.h"
#include "testing/MessageOf.h"
#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"
#include "util/StringHelper.h"
#include "util/parser/ArgumentParser.h"

namespace {

using norvale::quillmark::testing::messageOf;
using util::parser::IllegalArgumentException;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// The value, or the message of the NumberFormatException.
template <class Parse>
std::string resultOf(Parse parse) {
    try {
        return std::to_string(parse());
    } catch (const util::NumberFormatException& e) {
        return e.what();
    }
}

// The C library's conversion; then the range is checked at both ends (leading white space, signs,
// trailing text, the bounds and the messages of a number out of range are checked where the
// configuration is read, ConfigurationFileTest). Beyond 64 bits the conversion saturates.
TEST(NumberParserTest, IntegersAndDoubles) {
    const std::int64_t min32 = std::numeric_limits<std::int32_t>::min();
    const std::int64_t max32 = std::numeric_limits<std::int32_t>::max();
    for (const auto& [text, expected] :
         Pairs{{"", "The empty string cannot be parsed into an integer"},
               {"abc", "Error parsing the string [abc] to a number"},
               {"99999999999999999999",
                "Error converting [99999999999999999999] to a number. The number is too large."}}) {
        EXPECT_EQ(expected, resultOf([&] { return util::parseInteger(text, min32, max32); }))
            << text;
    }
    for (const auto& [text, expected] :
         Pairs{{" 0.25", "0.250000"},
               {"-3x", "-3.000000"},
               {"abc", "Error parsing the string [abc] to a double."},
               {"1e-400", "Error parsing the string [1e-400] to a double."},
               {"1e400", "Overflow when converting [1e400] to a double. "},
               {"-inf", "Overflow when converting [-inf] to a double. "}}) {
        EXPECT_EQ(expected, resultOf([&] { return util::parseDouble(text); })) << text;
    }
}

// Round trips; then what only decoding meets: characters outside the alphabet are skipped, a
// final partial group gives its whole bytes, and decoding stops at NUL.
TEST(Base64Test, EncodesAndDecodes) {
    const util::Base64EncoderImpl encoder;
    const util::Base64DecoderImpl decoder;
    for (const auto& [bytes, text] : Pairs{{"", ""},
                                           {"f", "Zg=="},
                                           {"fo", "Zm8="},
                                           {"foobar", "Zm9vYmFy"},
                                           {"\xFB\xFF", "+/8="}}) {
        EXPECT_EQ(text, encoder.encode(bytes));
        EXPECT_EQ(bytes, decoder.decode(text));
    }
    for (const auto& [text, bytes] : Pairs{{"YW Jj", "abc"},
                                           {"Zm9v\r\nYmFy\n", "foobar"},
                                           {"Z*g==", "f"},
                                           {"====", ""},
                                           {"Zg", "f"},
                                           {"Zm8", "fo"},
                                           {"YWJjY", "abc"},
                                           {std::string("YWJj\0Zm9v", 9), "abc"},
                                           {std::string("\0YWJj", 5), ""}}) {
        EXPECT_EQ(bytes, decoder.decode(text)) << text;
    }
}

TEST(StringHelperTest, FoldsOnlyAsciiCapitals) {
    EXPECT_EQ("\xC3\x89t\xC3\xa9@[`{spam.dat",
              util::StringHelper::toLower("\xC3\x89T\xC3\xa9@[`{SpAm.DAT"));
}

// The texts the console shows for a wrong command line that the start-up tests do not reach
// (they read the arguments of every mode); flags are checked in name order.
TEST(ArgumentParserTest, ParsesFlagsAndNamesWhatIsWrong) {
    util::parser::ArgumentParser parser('-');
    parser.addFlag("-config", 1, 1, false);
    parser.addFlag("-quiet", 0, 0, true);
    parser.addFlag("-a", 0, 0, true);
    using Words = std::vector<std::string>;
    for (const auto& [words, message] : std::vector<std::pair<Words, std::string>>{
             {{"-config", "", "x"}, "The empty string is not a flag or an argument."},
             {{"config.xml", "-config"}, "The argument line should start with a flag"},
             {{"-config", "a.xml", "b.xml"},
              "Too many arguments for the flag -config. No more than 1 arguments allowed"},
             {{"-config", "a.xml", "-quiet", "loud"},
              "No arguments for the flag -quiet are allowed"},
             // Checked before "-config"'s absence.
             {{"-a", "x"}, "No arguments for the flag -a are allowed"},
         }) {
        EXPECT_EQ(message, messageOf<IllegalArgumentException>([&] { parser.parse(words); }));
    }
}

TEST(ExceptionTest, KeepsItsOwnCopyOfAtMost4095Characters) {
    std::string longer(5000, 'b');
    longer[4094] = 'x';
    const exceptions::Exception cut(longer);
    longer.clear();
    const exceptions::Exception copy = cut;
    EXPECT_EQ(std::string(4094, 'b') + "x", copy.what());
    EXPECT_STREQ("ab", exceptions::Exception(std::string_view("ab\0cd", 5)).what());
}

}  // namespace
