#include "server/RequestVersion.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "util/NumberParser.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark {
namespace {

void expectVersion(const std::string& attribute, const std::string& text, double value) {
    const RequestVersion version = RequestVersion::parse(attribute);
    EXPECT_EQ(text, version.getText()) << attribute;
    EXPECT_EQ(value, version.getValue()) << attribute;
}

TEST(RequestVersionTest, OnlyExactlyOnePointZeroOneSelectsTheNewerProtocol) {
    expectVersion("1.01", "1.01", 1.01);
    expectVersion("1.0100", "1.01", 1.01);
    expectVersion("1.00", "1.00", 1.0);
    expectVersion("1", "1.00", 1.0);
    expectVersion("2.00", "1.00", 1.0);
    expectVersion("1.011", "1.00", 1.0);
    expectVersion("0.5", "1.00", 1.0);
}

TEST(RequestVersionTest, NonNumberFailsWithTheParsersMessage) {
    try {
        RequestVersion::parse("one");
        ADD_FAILURE() << "no exception";
    } catch (const util::NumberFormatException& e) {
        EXPECT_STREQ("Error parsing the string [one] to a double.", e.what());
    }
    EXPECT_THROW(RequestVersion::parse(""), util::NumberFormatException);
}

TEST(RequestVersionTest, TextUpToSevenCharactersIsKept) {
    const RequestVersion version("1.23456", 1.5);
    EXPECT_STREQ("1.23456", version.getText());
    EXPECT_TRUE(version.hasTextCoverage());
    xml::test::TemporaryFolder folder;
    EXPECT_DEATH(
        {
            if (::chdir(folder.path().c_str()) != 0) std::_Exit(3);
            RequestVersion("1.234567", 1.0);
        },
        "");
    std::ifstream report(folder.path() / "assertion.txt");
    std::stringstream text;
    text << report.rdbuf();
    EXPECT_NE(std::string::npos, text.str().find("Message: text.size() <= MaxTextLength\n"))
        << text.str();
}

}  // namespace
}  // namespace norvale::quillmark
