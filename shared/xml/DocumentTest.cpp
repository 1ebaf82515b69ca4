#include "xml/Document.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <optional>
#include <random>
#include <vector>

#include "xml/NodeList.h"
#include "xml/ParseError.h"
#include "xml/XmlTestSupport.h"

namespace xml {
namespace {

using test::messageOf;

const std::string Request =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
    "<quillmark xmlns=\"http://quillmark.invalid/1/server/RequestSchema\" version=\"1.01\">\n"
    "<texts>\n"
    "<textBase64 id=\"t1\">aGVq</textBase64>\n"
    "<text id=\"t1\">hej &amp; h\xC3\xA5</text>\n"
    "<text id=\"t2\">second</text>\n"
    "</texts>\n"
    "<readCalls>\n"
    "<classify id=\"c1\" classifierName=\"spam\" textId=\"t1\"/>\n"
    "<getInformation id=\"c2\" classifierName=\"spam\" flag=\"TRUE\" off=\"false\" odd=\"yes\""
    " empty=\"\"/>\n"
    "</readCalls>\n"
    "</quillmark>";

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        _document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
        _document.loadFromMemory(Request);
    }

    Element root() const { return _document.selectExactlyOne("qm:quillmark"); }

    Document _document;
};

TEST_F(DocumentTest, SelectsWithTheBoundPrefixInDocumentOrder) {
    const Element quillmark = root();
    EXPECT_EQ("quillmark", quillmark.getTagName());
    EXPECT_EQ("1.01", quillmark.getAttribute("version"));

    const NodeList texts = quillmark.selectNodes("qm:texts/*");
    ASSERT_EQ(3u, texts.count());
    EXPECT_EQ("textBase64", texts.item(0).getTagName());
    EXPECT_EQ("text", texts.item(1).getTagName());
    EXPECT_EQ("second", texts.item(2).getText());

    // The lookup the request engine makes: the first plain text with the id wins.
    const NodeList byId = quillmark.selectNodes("qm:texts/qm:text[@id = \"t1\"]");
    ASSERT_EQ(1u, byId.count());
    EXPECT_EQ("hej & h\xC3\xA5", byId.item(0).getText());

    const NodeList calls = quillmark.selectExactlyOne("qm:readCalls").selectNodes("*");
    ASSERT_EQ(2u, calls.count());
    EXPECT_EQ("c1", calls.item(0).getAttribute("id"));
    EXPECT_EQ("getInformation", calls.item(1).getTagName());
    EXPECT_EQ(0u, quillmark.selectNodes("qm:writeCalls").count());
    // Without the prefix nothing in the namespace matches: XPath 1.0 has no default namespace.
    EXPECT_EQ(0u, quillmark.selectNodes("texts").count());

    // Walking the children finds the same elements, by namespace and local name.
    const std::vector<Element> children = quillmark.childElements();
    ASSERT_EQ(2u, children.size());
    EXPECT_TRUE(children[0].isNamed(test::RequestNamespace, "texts"));
    EXPECT_FALSE(children[0].isNamed("urn:other", "texts"));
    EXPECT_FALSE(children[1].isNamed(test::RequestNamespace, "texts"));
    EXPECT_EQ(3u, children[0].childElements().size());
}

TEST_F(DocumentTest, ExactlyOneReportsTheCount) {
    EXPECT_EQ("Exactly one element matching the string qm:missing is allowed but 0 was found.\n",
              messageOf<DocumentException>([&] { _document.selectExactlyOne("qm:missing"); }));
    EXPECT_EQ(
        "Exactly one element matching the string qm:texts/qm:text is allowed but 2 was found.\n",
        messageOf<ElementException>([&] { root().selectExactlyOne("qm:texts/qm:text"); }));
}

TEST_F(DocumentTest, AttributesPlainAndBoolean) {
    const Element information = root().selectExactlyOne("qm:readCalls/qm:getInformation");
    EXPECT_TRUE(information.attributeExists("classifierName"));
    EXPECT_FALSE(information.attributeExists("textId"));
    EXPECT_EQ("", information.getAttribute("empty"));
    EXPECT_TRUE(information.getBooleanAttribute("flag"));
    EXPECT_FALSE(information.getBooleanAttribute("off"));
    EXPECT_EQ("Error when getting the attribute 'textId' from an element.",
              messageOf<ElementException>([&] { information.getAttribute("textId"); }));
    EXPECT_EQ(
        "Error when getting the attribute. 'odd' not a boolean. The attribute is set to: 'yes'.",
        messageOf<ElementException>([&] { information.getBooleanAttribute("odd"); }));
    EXPECT_EQ("Error when getting the attribute 'nothing' from an element.",
              messageOf<ElementException>([&] { information.getBooleanAttribute("nothing"); }));
}

TEST_F(DocumentTest, BadExpressionsAndNodeListIndexes) {
    EXPECT_EQ("Error when selecting nodes with the expression qm:texts[",
              messageOf<ElementException>([&] { root().selectNodes("qm:texts["); }));
    EXPECT_EQ("Error when selecting nodes with the expression other:texts",
              messageOf<ElementException>([&] { root().selectNodes("other:texts"); }));
    EXPECT_EQ("Error when selecting nodes with the expression count(*)",
              messageOf<ElementException>([&] { root().selectNodes("count(*)"); }));
    EXPECT_EQ("Error when selecting nodes with the expression ]",
              messageOf<DocumentException>([&] { _document.selectExactlyOne("]"); }));

    EXPECT_THROW(root().selectNodes("qm:texts/qm:text[@id = \"a\"b\"]"), ElementException);

    const NodeList texts = root().selectNodes("qm:texts/qm:text/text()");
    ASSERT_EQ(2u, texts.count());
    EXPECT_EQ("Error when getting the node from the nodelist.",
              messageOf<NodeListException>([&] { texts.item(0); }));
    const NodeList calls = root().selectNodes("qm:readCalls/*");
    EXPECT_THROW(calls.item(2), NodeListException);
}

TEST_F(DocumentTest, TagNamesKeepTheirPrefix) {
    Document document;
    document.setSelectionNamespaces("xmlns:a='urn:a'  xmlns:b=\"urn:b\"");
    document.loadFromMemory(
        "<r xmlns='urn:a' xmlns:p='urn:a' xmlns:q='urn:b'><p:call p:x='1' y='2'/><call/>"
        "<q:call/></r>");
    const NodeList calls = document.selectExactlyOne("a:r").selectNodes("*");
    ASSERT_EQ(3u, calls.count());
    EXPECT_EQ("p:call", calls.item(0).getTagName());
    EXPECT_EQ("call", calls.item(1).getTagName());
    EXPECT_EQ("q:call", calls.item(2).getTagName());
    EXPECT_EQ("1", calls.item(0).getAttribute("p:x"));
    EXPECT_FALSE(calls.item(0).attributeExists("x"));
    EXPECT_EQ(2u, document.selectExactlyOne("a:r").selectNodes("a:call").count());
    EXPECT_EQ(1u, document.selectExactlyOne("a:r").selectNodes("b:call").count());
}

// Node lists and elements own what they point into: the nodes a namespace-axis selection makes
// itself, and the tree after its document loads another text or is destroyed.
TEST(DocumentOwnershipTest, NodeListsAndElementsOutliveWhatTheyCameFrom) {
    std::optional<NodeList> namespaces;
    std::optional<NodeList> calls;
    {
        Document document;
        document.setSelectionNamespaces("xmlns:a='urn:a'");
        document.loadFromMemory("<r xmlns='urn:a' xmlns:p='urn:p'><c n='1'/><c n='2'>x</c></r>");
        const Element root = document.selectExactlyOne("a:r");
        namespaces = root.selectNodes("namespace::*");
        calls = root.selectNodes("a:c");
        document.loadFromMemory("<r xmlns='urn:a'/>");
        EXPECT_EQ("2", calls->item(1).getAttribute("n"));
    }
    ASSERT_EQ(3u, namespaces->count());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_THROW(namespaces->item(i), NodeListException);
    const Element call = calls->item(1);
    calls.reset();
    EXPECT_EQ("x", call.getText());
    EXPECT_EQ("1", call.selectExactlyOne("../a:c[1]").getAttribute("n"));
}

// One evaluation context serves every selection of a document; nothing of one selection may
// reach the next.
TEST(DocumentSelectTest, SelectionsStayIndependentAcrossFailuresReloadsAndNewBindings) {
    Document document;
    document.setSelectionNamespaces("xmlns:a='urn:a'");
    document.loadFromMemory("<r xmlns='urn:a'><c n='1'/><c n='2'/><c n='3'/></r>");
    const Element root = document.selectExactlyOne("a:r");
    for (int i = 0; i < 2000; ++i) {
        ASSERT_THROW(root.selectNodes("a:c[(((("), ElementException) << i;
    }
    EXPECT_EQ("3", root.selectNodes("a:c[last()]").item(0).getAttribute("n"));
    EXPECT_EQ("2", root.selectNodes("a:c[position() = 2]").item(0).getAttribute("n"));
    EXPECT_EQ(3u, root.selectNodes("a:c").count());

    document.loadFromMemory("<r xmlns='urn:a'><c n='9'/></r>");
    EXPECT_EQ("9", document.selectExactlyOne("a:r/a:c").getAttribute("n"));

    document.setSelectionNamespaces("xmlns:b='urn:a'");
    EXPECT_EQ("9", document.selectExactlyOne("b:r/b:c").getAttribute("n"));
    EXPECT_THROW(document.selectExactlyOne("a:r"), DocumentException);
}

TEST(DocumentSetupTest, SelectionNamespacesMustBePrefixedDeclarations) {
    Document document;
    for (const char* bad : {"qm='urn:x'", "xmlns='urn:x'", "xmlns:qm=urn:x", "xmlns:qm=''",
                            "xmlns:qm='urn:x' junk", "xmlns:qm='urn:x"}) {
        EXPECT_EQ("Error when trying to set the schemas for a document.",
                  messageOf<DocumentException>([&] { document.setSelectionNamespaces(bad); }))
            << bad;
    }
    document.setSelectionNamespaces("");
    document.loadFromMemory("<r/>");
    EXPECT_THROW(document.selectExactlyOne("qm:r"), DocumentException);
}

TEST(DocumentLoadTest, ParseErrorTextNamesTheOffendingLine) {
    Document document;
    EXPECT_EQ(
        "Error when loading the XML document from the memory.\n\n"
        "Error Code: 76\n"
        "Line: 3\n"
        "Row: 7\n"
        "Description: Opening and ending tag mismatch: b line 2 and a\n"
        "Error line:   </a>\n",
        messageOf<DocumentException>([&] { document.loadFromMemory("<a>\r\n<b>\r\n  </a>\n"); }));
}

TEST(DocumentLoadTest, MalformedInputIsRefusedWithTheParseErrorText) {
    const std::string opening = "Error when loading the XML document from the memory.\n\n";
    Document document;
    EXPECT_EQ(opening +
                  "Error Code: 4\nLine: 1\nRow: 1\nDescription: Document is empty\n"
                  "Error line: \n",
              messageOf<DocumentException>([&] { document.loadFromMemory(""); }));

    std::mt19937 random(20240601);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(1000, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random() + 128);
        const std::string message =
            messageOf<DocumentException>([&] { document.loadFromMemory(bytes); });
        EXPECT_EQ(0u, message.find(opening + "Error Code: ")) << message;
        EXPECT_NE(std::string::npos, message.find("\nDescription: ")) << message;
    }

    // Every proper prefix of a well-formed document is malformed.
    for (std::size_t length = 0; length < Request.size(); ++length) {
        const std::string message = messageOf<DocumentException>(
            [&] { document.loadFromMemory(Request.substr(0, length)); });
        EXPECT_EQ(0u, message.find(opening + "Error Code: ")) << length;
        EXPECT_NE(std::string::npos, message.find("\nError line: ")) << length;
    }
    // A failed load leaves no document behind.
    document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
    EXPECT_THROW(document.selectExactlyOne("qm:quillmark"), DocumentException);
    document.loadFromMemory(Request);
    EXPECT_NO_THROW(document.selectExactlyOne("qm:quillmark"));
}

TEST(DocumentLoadTest, FilesAreNamedInTheirFailures) {
    test::TemporaryFolder folder;
    Document document;
    const std::string good = folder.write("good.xml", Request);
    document.loadFromFile(good);
    EXPECT_EQ("", document.getTargetNamespace());

    const std::string bad = folder.write("bad.xml", "<config>\n<port>1</prt>\n</config>");
    EXPECT_EQ("Error when loading the XML document " + bad +
                  "\n\nError Code: 76\nLine: 2\nRow: 14\n"
                  "Description: Opening and ending tag mismatch: port line 2 and prt\n"
                  "Error line: <port>1</prt>\n",
              messageOf<DocumentException>([&] { document.loadFromFile(bad); }));

    const std::string missing = (folder.path() / "good.xml" / "below-a-file.xml").string();
    EXPECT_EQ("Error when loading the XML document " + missing +
                  "\n\nError Code: N/A\nLine: N/A\nRow: N/A\n"
                  "Description: The file could not be read. System error message: Not a "
                  "directory. Error code: 20.\nError line: N/A\n",
              messageOf<DocumentException>([&] { document.loadFromFile(missing); }));
}

TEST(DocumentLoadTest, SerialisesTheLoadedDocument) {
    Document document;
    EXPECT_EQ("", document.getXml());
    document.loadFromMemory(
        "<config xmlns='urn:c'><port>8080</port><name>\xC3\xA5 &amp; &lt;</name>"
        "</config>");
    const std::string xml = document.getXml();
    EXPECT_NE(std::string::npos,
              xml.find("<config xmlns=\"urn:c\"><port>8080</port><name>\xC3\xA5 &amp; &lt;</name>"
                       "</config>"))
        << xml;
    Document copy;
    copy.loadFromMemory(xml);
    EXPECT_EQ(xml, copy.getXml());
}

TEST(DocumentSecurityTest, DocumentTypesAreRefusedBeforeAnyEntityIsRead) {
    const std::string bomb =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE lolz [\n"
        " <!ENTITY lol \"lollollollollollollollollollol\">\n"
        " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
        " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
        " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
        " <!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
        " <!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">\n"
        " <!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">\n"
        " <!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">\n"
        " <!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">\n"
        "]>\n"
        "<lolz>&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;</lolz>";
    const std::string externalEntity =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE r [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>\n"
        "<r>&secret;</r>";
    const std::string externalSubset =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"/etc/passwd\">\n<r>&secret;</r>";
    const std::string parameterEntity =
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><r/>";

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const std::string& text : {bomb, externalEntity, externalSubset, parameterEntity}) {
        Document document;
        const std::string message =
            messageOf<DocumentException>([&] { document.loadFromMemory(text); });
        EXPECT_NE(std::string::npos, message.find("Description: DTD is not allowed.")) << message;
        EXPECT_EQ(std::string::npos, message.find("root:")) << message;
        EXPECT_EQ("", document.getXml());
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes grown";

    Document document;
    EXPECT_EQ(
        "Error when loading the XML document from the memory.\n\n"
        "Error Code: 111\nLine: 2\nRow: 13\n"
        "Description: DTD is not allowed. A document type declaration was found.\n"
        "Error line: <!DOCTYPE r [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>\n",
        messageOf<DocumentException>([&] { document.loadFromMemory(externalEntity); }));
}

// The parser's cost grows with the square of one element's attributes: a flood is refused
// before it parses, and only attributes of start tags count.
TEST(DocumentSecurityTest, ElementsWithTooManyAttributesAreRefusedBeforeParsing) {
    const auto attributes = [](std::size_t count) {
        std::string text;
        for (std::size_t n = 0; n < count; ++n) text += " a" + std::to_string(n) + "='='";
        return text;
    };
    const std::string many(40, '=');
    const struct {
        std::string text;
        int refusedLine;  // 0: loads
    } cases[] = {
        {"<r" + attributes(Document::MaxAttributes) + "/>", 0},
        {"<r>\n<e" + attributes(Document::MaxAttributes + 1) + "/></r>", 2},
        {"<r" + attributes(100'000) + "/>", 1},
        {"<r>" + many + "<!--<e " + many + ">--><![CDATA[<e " + many + ">]]><?p " + many +
             "?><e a='>" + many + "' b=\"" + many + "\"/></r>",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        Document document;
        if (c.refusedLine == 0) {
            EXPECT_NO_THROW(document.loadFromMemory(c.text));
            continue;
        }
        EXPECT_EQ("Error when loading the XML document from the memory.\n\nError Code: N/A\nLine: " +
                      std::to_string(c.refusedLine) +
                      "\nRow: N/A\nDescription: An element has more than 32 attributes; no "
                      "document read here may have that many.\nError line: " +
                      sourceLine(c.text, c.refusedLine).substr(0, 1024) + "\n",
                  messageOf<DocumentException>([&] { document.loadFromMemory(c.text); }));
    }
}

TEST(DocumentValidateTest, NeedsASchemaForTheRootNamespace) {
    Document unbound;
    unbound.loadFromMemory("<r xmlns='urn:none'/>");
    EXPECT_EQ(
        "Problems validating the xml document.\r\nError Code: N/A\nLine: N/A\nRow: N/A\n"
        "Description: No schema is known for the namespace 'urn:none' of the root element.\n"
        "Error line: N/A\n",
        messageOf<ValidateException>([&] { unbound.validate(); }));

    SchemaCache cache;
    test::addSchema(cache, "config/ConfigSchema.xsd");
    Document document(&cache);
    EXPECT_THROW(document.validate(), ValidateException);
    document.loadFromMemory("<r xmlns='urn:none'/>");
    EXPECT_THROW(document.validate(), ValidateException);
}

TEST(SourceLineTest, CutsOneLineOutOfTheText) {
    EXPECT_EQ("first", sourceLine("first\r\nsecond\nthird", 1));
    EXPECT_EQ("second", sourceLine("first\r\nsecond\nthird", 2));
    EXPECT_EQ("third", sourceLine("first\r\nsecond\nthird", 3));
    EXPECT_EQ("N/A", sourceLine("first\r\nsecond\nthird", 4));
    EXPECT_EQ("N/A", sourceLine("first", 0));
    EXPECT_EQ(1024u, sourceLine(std::string(5000, 'x'), 1).size());
}

}  // namespace
}  // namespace xml
