// Element reads plain text and attribute values itself; whatever a document holds, it must read
// what libxml2's own joining reads.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "xml/Document.h"
#include "xml/XmlString.h"

namespace xml {
namespace {

std::string joined(xmlChar* value) {
    const XmlString owned(value);
    return owned ? reinterpret_cast<const char*>(owned.get()) : "(null)";
}

void collect(xmlNode* node, std::vector<xmlNode*>& elements) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        elements.push_back(node);
        collect(node->children, elements);
    }
}

TEST(ElementTest, TextAndAttributesReadAsTheLibraryJoinsThem) {
    for (const char* content : {"", "plain", "a &amp; b &#x263A;", "<![CDATA[<raw> & ]]>",
                                "one<![CDATA[ two ]]>three", "a<!-- c -->b", "a<?pi d?>b",
                                "outer <i>nested <d>deep</d></i> tail"}) {
        SCOPED_TRACE(content);
        const std::string text =
            std::string("<r xmlns='urn:q' xmlns:p='urn:p' a='x &amp; y&#10;z' p:b=''>") + content +
            "</r>";
        Document document;
        document.setSelectionNamespaces("xmlns:qm='urn:q'");
        document.loadFromMemory(text);
        const NodeList elements =
            document.selectExactlyOne("qm:r").selectNodes("descendant-or-self::*");
        const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> reference(
            xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0),
            &xmlFreeDoc);
        std::vector<xmlNode*> expected;
        collect(xmlDocGetRootElement(reference.get()), expected);
        ASSERT_EQ(elements.count(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(elements.item(i).getText(), joined(xmlNodeGetContent(expected[i])));
        }
        const Element root = elements.item(0);
        EXPECT_EQ(root.getAttribute("a"), joined(xmlGetProp(expected[0], BAD_CAST "a")));
        EXPECT_EQ(root.getAttribute("p:b"), "");
        EXPECT_FALSE(root.attributeExists("b") || root.attributeExists("q:b") ||
                     root.attributeExists("p:a"));
    }
}

}  // namespace
}  // namespace xml
