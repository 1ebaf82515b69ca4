#include "util/parser/ArgumentParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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
        try {
            parser.parse(words);
            ADD_FAILURE() << message;
        } catch (const IllegalArgumentException& e) {
            EXPECT_EQ(message, e.what());
        }
    }
    parser.parse({"-config", "c.xml", "-pair", "a", "b"});
    EXPECT_FALSE(parser.isParsed("-quiet"));
    EXPECT_EQ("c.xml", parser.getArgument("-config"));
    for (const auto& [flag, message] :
         {std::pair{"-quiet", "The flag: -quiet was not parsed"},
          std::pair{"-pair", "The flag: -pair has multiple arguments."}}) {
        try {
            parser.getArgument(flag);
            ADD_FAILURE() << message;
        } catch (const IllegalArgumentException& e) {
            EXPECT_EQ(std::string(message), e.what());
        }
    }
}

}  // namespace
