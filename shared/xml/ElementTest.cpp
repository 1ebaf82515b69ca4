// Element reads text and attribute values itself where they are plain text; whatever a
// document holds, it must read what libxml2's own joining reads.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xml/Document.h"
#include "xml/XmlString.h"

namespace xml {
namespace {

std::string joined(xmlChar* value) {
    const XmlString owned(value);
    return owned ? reinterpret_cast<const char*>(owned.get()) : "(null)";
}

// The elements of `tree` in document order.
void collect(xmlNode* node, std::vector<xmlNode*>& elements) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        elements.push_back(node);
        collect(node->children, elements);
    }
}

TEST(ElementTest, TextAndAttributesReadAsTheLibraryJoinsThem) {
    const char* const contents[] = {
        "",
        "plain",
        "a &amp; b &#x263A; &lt;c&gt;",
        "<![CDATA[<raw> & ]]>",
        "one<![CDATA[ two ]]>three",
        "before<!-- a comment -->after",
        "before<?pi data?>after",
        "outer <inner>nested <deeper>deep</deeper></inner> tail",
        "<inner/>",
    };
    for (const char* content : contents) {
        SCOPED_TRACE(content);
        const std::string text = std::string("<r xmlns=\"urn:q\" xmlns:p=\"urn:p\" a=\"x &amp; y&#10;z\" "
                                             "p:b=\"\" c=\"&#x263A;\">") +
                                 content + "</r>";
        Document document;
        document.setSelectionNamespaces("xmlns:qm='urn:q'");
        document.loadFromMemory(text);
        const NodeList elements = document.selectExactlyOne("qm:r").selectNodes("descendant-or-self::*");

        const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> owned(
            xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0),
            &xmlFreeDoc);
        xmlDoc* const reference = owned.get();
        ASSERT_NE(reference, nullptr);
        std::vector<xmlNode*> expected;
        collect(xmlDocGetRootElement(reference), expected);
        ASSERT_EQ(elements.count(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(elements.item(i).getText(), joined(xmlNodeGetContent(expected[i])));
        }
        const Element root = elements.item(0);
        for (const auto& [name, local] : {std::pair{"a", "a"}, {"p:b", "b"}, {"c", "c"}}) {
            const xmlAttr* attribute = expected[0]->properties;
            while (attribute != nullptr && std::string(reinterpret_cast<const char*>(attribute->name)) != local) {
                attribute = attribute->next;
            }
            ASSERT_NE(attribute, nullptr);
            EXPECT_EQ(root.getAttribute(name),
                      attribute->children == nullptr
                          ? ""
                          : joined(xmlNodeListGetString(reference, attribute->children, 1)));
        }
        EXPECT_FALSE(root.attributeExists("b"));
        EXPECT_FALSE(root.attributeExists("q:b"));
        EXPECT_FALSE(root.attributeExists("p:a"));
    }
}

}  // namespace
}  // namespace xml
