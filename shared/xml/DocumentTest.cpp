#include "xml/Document.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "io/filesystem/TempFolder.h"
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

const std::string FromMemory = "Error when loading the XML document from the memory.\n\n";

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
    EXPECT_EQ("1.01", quillmark.getAttribute("version"));
    const NodeList texts = quillmark.selectNodes("qm:texts/*");
    ASSERT_EQ(3u, texts.count());
    EXPECT_EQ("textBase64", texts.item(0).getTagName());
    EXPECT_EQ("second", texts.item(2).getText());
    // The first plain text with the id wins.
    const NodeList byId = quillmark.selectNodes("qm:texts/qm:text[@id = \"t1\"]");
    ASSERT_EQ(1u, byId.count());
    EXPECT_EQ("hej & h\xC3\xA5", byId.item(0).getText());
    // Without the prefix nothing in the namespace matches: XPath 1.0 has no default namespace.
    EXPECT_EQ(0u, quillmark.selectNodes("texts").count());

    const std::vector<Element> children = quillmark.childElements();
    ASSERT_EQ(2u, children.size());
    EXPECT_TRUE(children[0].isNamed(test::RequestNamespace, "texts"));
    EXPECT_FALSE(children[0].isNamed("urn:other", "texts"));
    EXPECT_FALSE(children[1].isNamed(test::RequestNamespace, "texts"));

    const Element information = quillmark.selectExactlyOne("qm:readCalls/qm:getInformation");
    EXPECT_FALSE(information.attributeExists("textId"));
    EXPECT_EQ("", information.getAttribute("empty"));
    EXPECT_TRUE(information.getBooleanAttribute("flag"));
    EXPECT_FALSE(information.getBooleanAttribute("off"));
}

// The texts a client reads in its error document.
TEST_F(DocumentTest, FailuresNameWhatFailed) {
    const Element information = root().selectExactlyOne("qm:readCalls/qm:getInformation");
    io::filesystem::test::TempFolder folder;
    const std::string bad = folder.write("bad.xml", "<config>\n<port>1</prt>\n</config>");
    const std::string missing = folder.path("bad.xml/below-a-file.xml");
    Document other;
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { root().selectExactlyOne("qm:texts/qm:text"); },
         "Exactly one element matching the string qm:texts/qm:text is allowed but 2 was found.\n"},
        {[&] { information.getBooleanAttribute("odd"); },
         "Error when getting the attribute. 'odd' not a boolean. The attribute is set to: 'yes'."},
        {[&] { other.loadFromMemory("<a>\r\n<b>\r\n  </a>\n"); },
         FromMemory + "Error Code: 76\nLine: 3\nRow: 7\n"
                      "Description: Opening and ending tag mismatch: b line 2 and a\n"
                      "Error line:   </a>\n"},
        {[&] { other.loadFromMemory(""); },
         FromMemory + "Error Code: 4\nLine: 1\nRow: 1\nDescription: Document is empty\n"
                      "Error line: \n"},
        {[&] { other.loadFromMemory("<!DOCTYPE r [<!ENTITY s SYSTEM \"file:///etc/passwd\">]><r>&s;</r>"); },
         FromMemory + "Error Code: 111\nLine: 1\nRow: 13\n"
                      "Description: DTD is not allowed. A document type declaration was found.\n"
                      "Error line: <!DOCTYPE r [<!ENTITY s SYSTEM \"file:///etc/passwd\">]><r>&s;</r>\n"},
        {[&] { other.loadFromFile(bad); },
         "Error when loading the XML document " + bad +
             "\n\nError Code: 76\nLine: 2\nRow: 14\n"
             "Description: Opening and ending tag mismatch: port line 2 and prt\n"
             "Error line: <port>1</prt>\n"},
        {[&] { other.loadFromFile(missing); },
         "Error when loading the XML document " + missing +
             "\n\nError Code: N/A\nLine: N/A\nRow: N/A\n"
             "Description: The file could not be read. System error message: Not a "
             "directory. Error code: 20.\nError line: N/A\n"},
        {[&] {
             other.loadFromMemory("<r xmlns='urn:none'/>");
             other.validate();
         },
         "Problems validating the xml document.\r\nError Code: N/A\nLine: N/A\nRow: N/A\n"
         "Description: No schema is known for the namespace 'urn:none' of the root element.\n"
         "Error line: N/A\n"},
    };
    for (const auto& [call, message] : cases) {
        EXPECT_EQ(message, messageOf<exceptions::Exception>(call));
    }
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
    EXPECT_EQ(3u, root.selectNodes("a:c").count());

    document.loadFromMemory("<r xmlns='urn:a'><c n='9'/></r>");
    document.setSelectionNamespaces("xmlns:b='urn:a'");
    EXPECT_EQ("9", document.selectExactlyOne("b:r/b:c").getAttribute("n"));
    EXPECT_THROW(document.selectExactlyOne("a:r"), DocumentException);
}

TEST(DocumentLoadTest, MalformedInputIsRefusedAndLeavesNoDocument) {
    Document document;
    std::mt19937 random(20240601);
    std::vector<std::string> inputs;
    for (int round = 0; round < 50; ++round) {
        std::string bytes(1000, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random() + 128);
        inputs.push_back(bytes);
    }
    // Every proper prefix of a well-formed document is malformed.
    for (std::size_t length = 0; length < Request.size(); ++length) {
        inputs.push_back(Request.substr(0, length));
    }
    for (const std::string& input : inputs) {
        const std::string message =
            messageOf<DocumentException>([&] { document.loadFromMemory(input); });
        EXPECT_EQ(0u, message.find(FromMemory + "Error Code: ")) << message;
        EXPECT_NE(std::string::npos, message.find("\nError line: ")) << message;
    }
    document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
    EXPECT_THROW(document.selectExactlyOne("qm:quillmark"), DocumentException);
    EXPECT_EQ("", document.getXml());

    document.loadFromMemory("<c xmlns='urn:c'><port>8080</port><n>\xC3\xA5 &amp; &lt;</n></c>");
    const std::string xml = document.getXml();
    EXPECT_NE(std::string::npos,
              xml.find("<c xmlns=\"urn:c\"><port>8080</port><n>\xC3\xA5 &amp; &lt;</n></c>"))
        << xml;
}

TEST(DocumentSecurityTest, DocumentTypesAreRefusedBeforeAnyEntityIsRead) {
    // Ten levels of ten references each: a billion copies if it were expanded.
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY l0 \"lollollol\">\n";
    for (int level = 1; level < 10; ++level) {
        bomb += " <!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) bomb += "&l" + std::to_string(level - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<lolz>&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;</lolz>";
    const std::vector<std::string> documents = {
        bomb,
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"/etc/passwd\">\n<r>&secret;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><r/>",
    };
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const std::string& text : documents) {
        Document document;
        const std::string message =
            messageOf<DocumentException>([&] { document.loadFromMemory(text); });
        EXPECT_NE(std::string::npos, message.find("Description: DTD is not allowed.")) << message;
        EXPECT_EQ(std::string::npos, message.find("root:")) << message;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes grown";
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

TEST(SourceLineTest, CutsOneLineOutOfTheText) {
    const std::string text = "first\r\nsecond\nthird";
    const std::vector<std::pair<std::size_t, std::string>> lines = {
        {0, "N/A"}, {1, "first"}, {2, "second"}, {3, "third"}, {4, "N/A"}};
    for (const auto& [line, expected] : lines) EXPECT_EQ(expected, sourceLine(text, line)) << line;
    EXPECT_EQ(1024u, sourceLine(std::string(5000, 'x'), 1).size());
}

}  // namespace
}  // namespace xml
