#include "util/EscapeXml.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeXmlTest, ReplacesTheFourMarkupCharactersOnly) {
    EXPECT_EQ("a &amp; b &quot;c&quot; &lt;d&gt;", util::escapeXml("a & b \"c\" <d>"));
    EXPECT_EQ("it's", util::escapeXml("it's"));
    EXPECT_EQ("&amp;amp;", util::escapeXml("&amp;"));
    EXPECT_EQ("", util::escapeXml(""));
    const std::string bytes("\0\x01\xC3\xA9\xFF", 5);
    EXPECT_EQ(bytes, util::escapeXml(bytes));
}

}  // namespace
