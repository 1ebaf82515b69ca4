#include "util/StringTokenizerImpl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using util::StringTokenizerImpl;

TEST(StringTokenizerImplTest, RunsOfDelimitersSeparateTokens) {
    StringTokenizerImpl tokens("  alpha,, beta ,gamma ", " ,");
    EXPECT_EQ(3u, tokens.countTokens());
    EXPECT_EQ("gamma", tokens.peekToken(2));
    EXPECT_EQ("alpha", tokens.peekToken(0));
    EXPECT_EQ("alpha", tokens.nextToken());
    EXPECT_EQ(2u, tokens.countTokens());
    std::string token;
    tokens.nextToken(token);
    EXPECT_EQ("beta", token);
    EXPECT_TRUE(tokens.hasMoreTokens());
    EXPECT_EQ("gamma", tokens.nextToken());
    EXPECT_FALSE(tokens.hasMoreTokens());
    EXPECT_EQ(0u, tokens.countTokens());
}

TEST(StringTokenizerImplTest, TextOfDelimitersOnlyHasNoTokens) {
    StringTokenizerImpl onlyDelimiters(" ,, ", " ,");
    EXPECT_FALSE(onlyDelimiters.hasMoreTokens());
    EXPECT_EQ(0u, onlyDelimiters.countTokens());
    StringTokenizerImpl empty("", " ");
    EXPECT_EQ(0u, empty.countTokens());
    StringTokenizerImpl noDelimiters("a b", "");
    EXPECT_EQ(1u, noDelimiters.countTokens());
    EXPECT_EQ("a b", noDelimiters.nextToken());
}

// The failed check runs in a death-test child that first moves to a fresh folder, so the
// report's "assertion.txt" lands there and can be read back.
class StringTokenizerImplDeathTest : public testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/qm_tokenizer_XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(folder));
        _dir = folder;
    }
    void TearDown() override { std::filesystem::remove_all(_dir); }

    void enterFolder() const {
        if (::chdir(_dir.c_str()) != 0) std::_Exit(3);
    }
    std::string report() const {
        std::ifstream in(_dir / "assertion.txt");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path _dir;
};

TEST_F(StringTokenizerImplDeathTest, NextTokenWithoutTokens) {
    StringTokenizerImpl tokens("one", " ");
    tokens.nextToken();
    EXPECT_DEATH(
        {
            enterFolder();
            tokens.nextToken();
        },
        "");
    EXPECT_NE(std::string::npos, report().find("Assertion failed. Message: hasMoreTokens()\n"));
}

TEST_F(StringTokenizerImplDeathTest, PeekBeyondTheLastToken) {
    StringTokenizerImpl tokens("one two", " ");
    EXPECT_EQ("two", tokens.peekToken(1));
    EXPECT_DEATH(
        {
            enterFolder();
            tokens.peekToken(2);
        },
        "");
    EXPECT_NE(
        std::string::npos,
        report().find("Assertion failed. Message: countTokens() >= tokensAheadOfNextToken\n"));
}

}  // namespace
