#include "util/parser/ArgumentParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/MessageOf.h"

namespace {

using norvale::quillmark::testing::messageOf;
using util::parser::ArgumentParser;
using util::parser::IllegalArgumentException;

// The flag set of the server's console mode plus a flag that takes up to two arguments. Each
// parse starts afresh; the texts are those the console shows for a wrong command line that the
// start-up tests do not reach, and flags are checked in name order.
TEST(ArgumentParserTest, ParsesFlagsAndNamesWhatIsWrong) {
    ArgumentParser parser('-');
    parser.addFlag("-config", 1, 1, false);
    parser.addFlag("-quiet", 0, 0, true);
    parser.addFlag("-pair", 0, 2, true);
    parser.addFlag("-a", 0, 0, true);
    EXPECT_THROW(parser.addFlag("-config", 0, 0, true), IllegalArgumentException);
    EXPECT_THROW(parser.addFlag("-range", 2, 1, true), util::parser::RuntimeException);
    const char* argv[] = {"-quiet", "-config", "config.xml", "-pair", "a", "b"};
    parser.parse(6, argv);
    EXPECT_TRUE(parser.isParsed("-quiet"));
    EXPECT_EQ("config.xml", parser.getArgument("-config"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-config", "", "x"}, "The empty string is not a flag or an argument."},
        {{"config.xml", "-config"}, "The argument line should start with a flag"},
        {{"-config", "a.xml", "b.xml"},
         "Too many arguments for the flag -config. No more than 1 arguments allowed"},
        {{"-config", "a.xml", "-quiet", "loud"}, "No arguments for the flag -quiet are allowed"},
        {{"-a", "x"}, "No arguments for the flag -a are allowed"},  // before "-config"'s absence
    };
    for (const auto& [words, message] : cases) {
        EXPECT_EQ(message, messageOf<IllegalArgumentException>([&] { parser.parse(words); }));
    }
    parser.parse({"-config", "c.xml", "-pair", "a", "b"});
    EXPECT_FALSE(parser.isParsed("-quiet"));
    EXPECT_EQ("c.xml", parser.getArgument("-config"));
    EXPECT_EQ("The flag: -quiet was not parsed",
              messageOf<IllegalArgumentException>([&] { parser.getArgument("-quiet"); }));
    EXPECT_EQ("The flag: -pair has multiple arguments.",
              messageOf<IllegalArgumentException>([&] { parser.getArgument("-pair"); }));
}

}  // namespace
