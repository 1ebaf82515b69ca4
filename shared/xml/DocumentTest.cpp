#include "xml/Document.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <functional>
#include <optional>
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
    "<texts>\n<textBase64 id=\"t1\">aGVq</textBase64>\n<text id=\"t1\">hej &amp; h\xC3\xA5</text>\n"
    "<text id=\"t2\">second</text>\n</texts>\n<readCalls>\n"
    "<getInformation id=\"c2\" classifierName=\"spam\" flag=\"TRUE\" off=\"false\" odd=\"yes\"/>\n"
    "</readCalls>\n</quillmark>";

const std::string FromMemory = "Error when loading the XML document from the memory.\n\n";

// Selections with the bound prefix in document order and attributes (their text is read in
// ElementTest), the texts a client reads in its error document when something fails, and the
// configuration as the log shows it. Every proper prefix of a well-formed document is malformed:
// each is refused with a located report and leaves no document behind.
TEST(DocumentTest, SelectsReadsAndNamesWhatFailed) {
    Document document;
    document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
    document.loadFromMemory(Request);
    const Element root = document.selectExactlyOne("qm:quillmark");
    const NodeList texts = root.selectNodes("qm:texts/*");
    ASSERT_EQ(3u, texts.count());
    EXPECT_EQ("second", texts.item(2).getText());
    const Element information = root.selectExactlyOne("qm:readCalls/qm:getInformation");
    EXPECT_TRUE(information.getBooleanAttribute("flag"));
    EXPECT_FALSE(information.getBooleanAttribute("off"));

    const std::string missing = "/dev/null/below-a-file.xml";
    Document other;
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { root.selectExactlyOne("qm:texts/qm:text"); },
         "Exactly one element matching the string qm:texts/qm:text is allowed but 2 was found.\n"},
        {[&] { information.getBooleanAttribute("odd"); },
         "Error when getting the attribute. 'odd' not a boolean. The attribute is set to: 'yes'."},
        {[&] { other.loadFromMemory("<a>\r\n<b>\r\n  </a>\n"); },
         FromMemory + "Error Code: 76\nLine: 3\nRow: 7\n"
                      "Description: Opening and ending tag mismatch: b line 2 and a\n"
                      "Error line:   </a>\n"},
        {[&] { other.loadFromFile(missing); },
         "Error when loading the XML document " + missing +
             "\n\nError Code: N/A\nLine: N/A\nRow: N/A\n"
             "Description: The file could not be read. System error message: Not a "
             "directory. Error code: 20.\nError line: N/A\n"},
        {[&] { other.loadFromFile("/tmp"); },
         "Error when loading the XML document /tmp\n\nError Code: N/A\nLine: N/A\nRow: N/A\n"
         "Description: The file could not be read. System error message: Is a directory. "
         "Error code: 21.\nError line: N/A\n"},
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
    for (std::size_t length = 0; length < Request.size(); ++length) {
        const std::string message =
            messageOf<DocumentException>([&] { other.loadFromMemory(Request.substr(0, length)); });
        EXPECT_EQ(0u, message.find(FromMemory + "Error Code: ")) << message;
    }
    EXPECT_EQ("", other.getXml());
    other.loadFromMemory("<c xmlns='urn:c'><port>8080</port><n>\xC3\xA5 &amp; &lt;</n></c>");
    EXPECT_NE(std::string::npos, other.getXml().find("<c xmlns=\"urn:c\"><port>8080</port><n>"
                                                     "\xC3\xA5 &amp; &lt;</n></c>"));
}

// Node lists and elements own what they point into (the nodes a namespace-axis selection makes
// itself, the tree after its document reloads or goes); one selection context serves every
// selection, and nothing of a failed one reaches the next.
TEST(DocumentTest, SelectionsOutliveTheirDocumentAndStayIndependent) {
    std::optional<NodeList> namespaces;
    std::optional<NodeList> calls;
    {
        Document document;
        document.setSelectionNamespaces("xmlns:a='urn:a'");
        document.loadFromMemory("<r xmlns='urn:a' xmlns:p='urn:p'><c n='1'/><c n='2'>x</c></r>");
        const Element root = document.selectExactlyOne("a:r");
        for (int i = 0; i < 2000; ++i) {
            ASSERT_THROW(root.selectNodes("a:c[(((("), ElementException) << i;
        }
        EXPECT_EQ("2", root.selectNodes("a:c[last()]").item(0).getAttribute("n"));
        namespaces = root.selectNodes("namespace::*");
        calls = root.selectNodes("a:c");
        document.loadFromMemory("<r xmlns='urn:a'><c n='9'/></r>");
        EXPECT_EQ("2", calls->item(1).getAttribute("n"));
    }
    ASSERT_EQ(3u, namespaces->count());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_THROW(namespaces->item(i), NodeListException);
    const Element call = calls->item(1);
    calls.reset();
    EXPECT_EQ("x", call.getText());
    EXPECT_EQ("1", call.selectExactlyOne("../a:c[1]").getAttribute("n"));

    Document document;
    EXPECT_THROW(document.rootElement(), DocumentException);
    document.loadFromMemory("<r xmlns='urn:a'><c n='9'/></r>");
    EXPECT_TRUE(document.rootElement().isNamed("urn:a", "r"));
    document.setSelectionNamespaces("xmlns:a='urn:a'");
    document.setSelectionNamespaces(" xmlns:b = \"urn:a\"\txmlns:c.1='urn:c'\n");
    EXPECT_EQ("9", document.selectExactlyOne("b:r/b:c").getAttribute("n"));
    EXPECT_THROW(document.selectExactlyOne("a:r"), DocumentException);
    // Refused declarations leave the bindings as they were.
    for (const char* refused : {"xmlns:a=''", "xmlns:1a='u'", "xmlns:a='u", "xmlns :a='u'",
                                "xmlns:a='u' x", "xmlns:a=u", "xmlns:a'u'"}) {
        EXPECT_THROW(document.setSelectionNamespaces(refused), DocumentException) << refused;
    }
    EXPECT_EQ("9", document.selectExactlyOne("b:r/b:c").getAttribute("n"));
}

// Document types are refused before any entity is read (a billion laughs costs nothing), and an
// element with more attributes than any document here may have is refused before it parses
// (the parser's cost grows with their square); only attributes of start tags count.
TEST(DocumentTest, HostileDocumentsAreRefusedBeforeTheyCost) {
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY l0 \"lollollol\">\n";
    for (int level = 1; level < 10; ++level) {
        bomb += " <!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) bomb += "&l" + std::to_string(level - 1) + ";";
        bomb += "\">\n";
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    for (const std::string& text :
         {bomb + "]>\n<lolz>&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;&l9;</lolz>",
          std::string("<!DOCTYPE r SYSTEM \"/etc/passwd\">\n<r>&secret;</r>"),
          std::string("<!DOCTYPE r [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><r/>")}) {
        const std::string message =
            messageOf<DocumentException>([&] { Document().loadFromMemory(text); });
        EXPECT_NE(std::string::npos,
                  message.find("Description: DTD is not allowed. A document type "
                               "declaration was found.\n"))
            << message;
        EXPECT_EQ(std::string::npos, message.find("root:")) << message;
    }
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes grown";

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
        // The quoted line is cut at 1024 bytes.
        EXPECT_EQ(FromMemory + "Error Code: N/A\nLine: " + std::to_string(c.refusedLine) +
                      "\nRow: N/A\nDescription: An element has more than 32 attributes; no "
                      "document read here may have that many.\nError line: " +
                      sourceLine(c.text, c.refusedLine).substr(0, 1024) + "\n",
                  messageOf<DocumentException>([&] { document.loadFromMemory(c.text); }));
    }
    EXPECT_EQ(1024u, sourceLine(std::string(5000, 'x'), 1).size());
}

}  // namespace
}  // namespace xml
