#include "util/parser/ArgumentParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using util::parser::ArgumentParser;
using util::parser::IllegalArgumentException;

// The flag set of the server's console mode plus a flag that takes up to two arguments.
ArgumentParser serverParser() {
    ArgumentParser parser('-');
    parser.addFlag("-config", 1, 1, false);
    parser.addFlag("-quiet", 0, 0, true);
    parser.addFlag("-pair", 0, 2, true);
    return parser;
}

std::string parseError(ArgumentParser& parser, const std::vector<std::string>& words) {
    try {
        parser.parse(words);
    } catch (const IllegalArgumentException& e) {
        return e.what();
    }
    return "no exception";
}

TEST(ArgumentParserTest, ParsesFlagsWithTheirArguments) {
    ArgumentParser parser = serverParser();
    const char* argv[] = {"-quiet", "-config", "config.xml", "-pair", "a", "b"};
    parser.parse(6, argv);
    EXPECT_TRUE(parser.isParsed("-config"));
    EXPECT_TRUE(parser.isParsed("-quiet"));
    EXPECT_EQ("config.xml", parser.getArgument("-config"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), parser.getArguments("-pair"));
    EXPECT_TRUE(parser.getArguments("-quiet").empty());
}

TEST(ArgumentParserTest, OptionalFlagMayBeAbsentAndParseStartsAfresh) {
    ArgumentParser parser = serverParser();
    parser.parse({"-config", "a.xml", "-quiet"});
    parser.parse({"-config", "b.xml"});
    EXPECT_FALSE(parser.isParsed("-quiet"));
    EXPECT_EQ("b.xml", parser.getArgument("-config"));
}

TEST(ArgumentParserTest, DefinitionErrors) {
    ArgumentParser parser('-');
    parser.addFlag("-config", 1, 1, false);
    try {
        parser.addFlag("-config", 0, 0, true);
        FAIL() << "no exception";
    } catch (const IllegalArgumentException& e) {
        EXPECT_STREQ("The flag -config has been previosly specified", e.what());
    }
    try {
        parser.addFlag("-range", 2, 1, true);
        FAIL() << "no exception";
    } catch (const util::parser::RuntimeException& e) {
        EXPECT_STREQ("[max] must be bigger or equal to [min]", e.what());
    }
}

TEST(ArgumentParserTest, WordErrorsOfTheFirstPass) {
    ArgumentParser parser = serverParser();
    EXPECT_EQ("The empty string is not a flag or an argument.",
              parseError(parser, {"-config", "", "x"}));
    EXPECT_EQ("The flag -install is not allowed", parseError(parser, {"-install"}));
    EXPECT_EQ("The flag -quiet was used more than once.",
              parseError(parser, {"-config", "c.xml", "-quiet", "-quiet"}));
    EXPECT_EQ("The argument line should start with a flag",
              parseError(parser, {"config.xml", "-config"}));
}

TEST(ArgumentParserTest, CountErrorsOfTheSecondPass) {
    ArgumentParser parser = serverParser();
    EXPECT_EQ("Not enough arguments for the flag -config. 1 is required.",
              parseError(parser, {"-config"}));
    EXPECT_EQ("Too many arguments for the flag -config. No more than 1 arguments allowed",
              parseError(parser, {"-config", "a.xml", "b.xml"}));
    EXPECT_EQ("No arguments for the flag -quiet are allowed",
              parseError(parser, {"-config", "a.xml", "-quiet", "loud"}));
    EXPECT_EQ("The non optional flag -config was not found.", parseError(parser, {"-quiet"}));
}

TEST(ArgumentParserTest, FlagsAreCheckedInNameOrder) {
    ArgumentParser parser('-');
    parser.addFlag("-scm", 0, 0, false);
    parser.addFlag("-config", 1, 1, false);
    EXPECT_EQ("The non optional flag -config was not found.", parseError(parser, {}));
    // "-a" sorts before "-config": its surplus argument is reported although -config is missing.
    parser.addFlag("-a", 0, 0, true);
    EXPECT_EQ("No arguments for the flag -a are allowed", parseError(parser, {"-a", "x"}));
}

TEST(ArgumentParserTest, AccessorFailures) {
    ArgumentParser parser = serverParser();
    parser.parse({"-config", "c.xml", "-pair", "a", "b"});
    const auto accessorError = [&](const std::string& name) -> std::string {
        try {
            parser.getArgument(name);
        } catch (const IllegalArgumentException& e) {
            return e.what();
        }
        return "no exception";
    };
    EXPECT_EQ("The flag: -quiet was not parsed", accessorError("-quiet"));
    EXPECT_EQ("The flag: -pair has multiple arguments.", accessorError("-pair"));
    parser.parse({"-config", "c.xml", "-pair"});
    EXPECT_EQ("The flag: -pair has multiple arguments.", accessorError("-pair"));
    EXPECT_EQ("The flag: -quiet was not parsed", [&]() -> std::string {
        try {
            parser.getArguments("-quiet");
        } catch (const IllegalArgumentException& e) {
            return e.what();
        }
        return "no exception";
    }());
}

}  // namespace
