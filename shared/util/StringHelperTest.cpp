#include "util/StringHelper.h"

#include <gtest/gtest.h>

#include <string>

#include "util/EscapeXml.h"

namespace {

TEST(StringHelperTest, FoldingEscapingAndNarrowing) {
    EXPECT_EQ("\xC3\x89t\xC3\xa9@[`{spam.dat",
              util::StringHelper::toLower("\xC3\x89T\xC3\xa9@[`{SpAm.DAT"));
    EXPECT_EQ("a &amp; b &quot;c&quot; &lt;d&gt; it's &amp;amp;",
              util::escapeXml("a & b \"c\" <d> it's &amp;"));
    EXPECT_EQ(std::string("\0\x01\xC3\xA9\xFF", 5), util::escapeXml(std::string("\0\x01\xC3\xA9\xFF", 5)));
}

}  // namespace
