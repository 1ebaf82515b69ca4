#include "util/StringHelper.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using util::StringHelper;

TEST(StringHelperTest, ReplaceAllCountsAndResumesAfterTheReplacement) {
    std::string text = "a.b.c";
    EXPECT_EQ(2u, StringHelper::replaceAll(text, ".", ".."));
    EXPECT_EQ("a..b..c", text);

    text = "aaa";
    EXPECT_EQ(3u, StringHelper::replaceAll(text, "a", "aa"));
    EXPECT_EQ("aaaaaa", text);

    text = "xAx";
    EXPECT_EQ(0u, StringHelper::replaceAll(text, "a", "b"));  // case-sensitive
    EXPECT_EQ("xAx", text);

    text = "abab";
    EXPECT_EQ(2u, StringHelper::replaceAll(text, "ab", ""));
    EXPECT_EQ("", text);

    text = "abc";
    EXPECT_EQ(0u, StringHelper::replaceAll(text, "", "x"));
    EXPECT_EQ("abc", text);
}

TEST(StringHelperTest, ToLowerFoldsAsciiLettersOnly) {
    EXPECT_EQ("spam.dat", StringHelper::toLower("SpAm.DAT"));
    EXPECT_EQ("\xC3\x89t\xC3\xa9@[`{", StringHelper::toLower("\xC3\x89T\xC3\xa9@[`{"));
}

TEST(StringHelperTest, ToNarrow) {
    EXPECT_EQ("Quillmark 2.40", StringHelper::toNarrow(L"Quillmark 2.40"));
    EXPECT_EQ("", StringHelper::toNarrow(L""));
    // The "C" locale the tests run in cannot represent characters outside ASCII.
    try {
        StringHelper::toNarrow(L"caf\u00e9");
        FAIL() << "no exception";
    } catch (const util::StringHelperException& e) {
        EXPECT_STREQ("Could not get the length of the wide string.", e.what());
    }
}

}  // namespace
