// Element reads plain text and attribute values itself, the way the XML library joins them:
// character references and CDATA resolved, comments and processing instructions left out, the
// text of child elements included.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "xml/Document.h"

namespace xml {
namespace {

TEST(ElementTest, TextAndAttributesReadAsTheLibraryJoinsThem) {
    for (const auto& [content, text] : std::vector<std::pair<std::string, std::string>>{
             {"", ""},
             {"a &amp; b &#x263A;", "a & b \xE2\x98\xBA"},
             {"one<![CDATA[ <raw> & ]]>three", "one <raw> & three"},
             {"a<!-- c -->b<?pi d?>c", "abc"},
             {"outer <i>nested <d>deep</d></i> tail", "outer nested deep tail"}}) {
        SCOPED_TRACE(content);
        Document document;
        document.setSelectionNamespaces("xmlns:qm='urn:q'");
        document.loadFromMemory("<r xmlns='urn:q' xmlns:p='urn:p' a='x &amp; y&#10;z' p:b=''>" +
                                content + "</r>");
        const Element root = document.selectExactlyOne("qm:r");
        EXPECT_EQ(text, root.getText());
        EXPECT_EQ("x & y\nz", root.getAttribute("a"));
        EXPECT_EQ("", root.getAttribute("p:b"));
        EXPECT_FALSE(root.attributeExists("b") || root.attributeExists("q:b") ||
                     root.attributeExists("p:a"));
    }
}

}  // namespace
}  // namespace xml
