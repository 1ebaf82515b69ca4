#include "util/StringHelper.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "util/Converter.h"
#include "util/EscapeXml.h"

namespace {

using util::StringHelper;

TEST(StringHelperTest, ReplaceAllCountsAndResumesAfterTheReplacement) {
    // text, from, to, expected text, expected count
    const std::vector<std::tuple<std::string, std::string, std::string, std::string, std::size_t>>
        cases = {{"a.b.c", ".", "..", "a..b..c", 2}, {"aaa", "a", "aa", "aaaaaa", 3},
                 {"xAx", "a", "b", "xAx", 0},        {"abab", "ab", "", "", 2},
                 {"abc", "", "x", "abc", 0}};
    for (auto [text, from, to, expected, count] : cases) {
        EXPECT_EQ(count, StringHelper::replaceAll(text, from, to)) << expected;
        EXPECT_EQ(expected, text);
    }
}

TEST(StringHelperTest, FoldingEscapingAndNarrowing) {
    EXPECT_EQ("\xC3\x89t\xC3\xa9@[`{spam.dat", StringHelper::toLower("\xC3\x89T\xC3\xa9@[`{SpAm.DAT"));
    EXPECT_EQ("a &amp; b &quot;c&quot; &lt;d&gt; it's &amp;amp;",
              util::escapeXml("a & b \"c\" <d> it's &amp;"));
    EXPECT_EQ(std::string("\0\x01\xC3\xA9\xFF", 5), util::escapeXml(std::string("\0\x01\xC3\xA9\xFF", 5)));
    EXPECT_EQ("Quillmark 2.40", StringHelper::toNarrow(L"Quillmark 2.40"));
    // The "C" locale the tests run in cannot represent characters outside ASCII.
    EXPECT_THROW(StringHelper::toNarrow(L"caf\u00e9"), util::StringHelperException);
    EXPECT_EQ(2147483647, util::toSigned32(2147483647u));
    EXPECT_THROW(util::toSigned32(2147483648u), util::ConverterException);
}

}  // namespace
