// The shape admits the requests clients send and never one the request schema refuses, and it is
// in use only for the schema it was written for. A request read in one pass is read exactly as
// from its tree, and every request the one pass cannot read the same way is left to the tree.
#include "server/RequestShape.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "server/CallException.h"
#include "server/RequestReader.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/ShapeReader.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark {
namespace {

using xml::test::RequestNamespace;

// Takes every element and text the reader hands it.
class Accepting : public xml::ShapeReader::Handler {
public:
    bool startElement(const xml::ShapeElement&, std::string_view, std::string_view,
                      std::span<const xml::ShapeReader::Attribute>) override {
        return true;
    }
    bool text(std::string_view) override { return true; }
    bool endElement(const xml::ShapeElement&) override { return true; }
};

std::string request(const std::string& body, const std::string& attributes = "version=\"1.01\"",
                    const std::string& root = "quillmark",
                    const std::string& declarations = "xmlns=\"" + RequestNamespace + "\"") {
    return "<?xml version=\"1.0\"?>\n<" + root + " " + declarations + " " + attributes + ">" +
           body + "</" + root + ">";
}

std::string classify(const std::string& textId, const std::string& name = "n",
                     const std::string& more = "/") {
    return "<readCalls><classify id=\"c\" classifierName=\"" + name + "\" textId=\"" + textId +
           "\"" + more + "></readCalls>";
}

// Each row: whether the shape admits it, and whether the one pass reads it (it reads nothing the
// shape refuses).
TEST(RequestShapeTest, AdmitsOnlyWhatTheSchemaAcceptsAndReadsItAsTheTreeDoes) {
    xml::SchemaCache schemas;
    xml::test::addSchema(schemas, "server/RequestSchema.xsd");
    EXPECT_EQ(requestShape::SchemaChecksum, schemas.sourceChecksum(RequestNamespace));

    const std::string texts =
        "<texts>\n  <text id=\"t1\">one &amp; two &lt;&#x41;&#233;\xc3\xa4</text><!-- c -->\n"
        "  <textBase64 id=\"t2\">aGVq</textBase64><text id=\"t3\">a<![CDATA[<b>]]>c</text>"
        "<text id=\"a.b\"/></texts>";
    const std::string reads =
        "<readCalls><classify id=\"1\" classifierName=\"spam-2.x_\" textId=\"t1\"/>\n"
        "<?pi data?><classifyKeywords id=\"2\" classifierName=\"spam\" textId=\"t2\"/>"
        "<getInformation id=\"3\" classifierName=\"spam\"/></readCalls>";
    const std::string writes =
        "<writeCalls classifierName=\"spam\" maxSize=\"-123456789\"><create id=\"4\"/>"
        "<addClass id=\"5\" className=\"a\tb\nc\"/><train id=\"6\" className=\"a\" textId=\"t1\"/>"
        "<untrain id=\"7\" className=\"a\" textId=\"t3\"/><removeClass id=\"8\" className=\"a\"/>"
        "<remove id=\"9\"/></writeCalls>";
    const std::string prefixed =
        "<qm:texts><qm:textBase64 id=\"e\">eA==</qm:textBase64></qm:texts>"
        "<qm:readCalls><qm:classify id=\"c\" classifierName=\"n\" textId=\"e\"/></qm:readCalls>";
    const std::string attributes33 = [] {
        std::string many = "<readCalls><getInformation id=\"g\" classifierName=\"n\"";
        for (int i = 0; i < 31; ++i) many += " a" + std::to_string(i) + "=\"\"";
        return many + "/></readCalls>";
    }();
    const std::string textT = "<texts><text id=\"t\"/></texts>";
    const std::string hundred(100, 'n');
    const struct {
        const char* what;
        std::string document;
        bool admitted, read;
    } rows[] = {
        {"every call, writes first, texts of every kind", request(writes + "\n" + reads + texts),
         true, true},
        {"no calls", request("", "version=\"1.00\""), true, true},
        {"a name of 100 bytes", request(textT + classify("t", hundred)), true, true},
        {"prefixed names",
         request(prefixed, "version=\"1.01\"", "qm:quillmark",
                 "xmlns:qm=\"" + RequestNamespace + "\""),
         true, true},
        {"another encoding",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><quillmark xmlns=\"" + RequestNamespace +
             "\" version=\"1.00\"><texts><text id=\"t\">caf\xe9</text></texts>" + classify("t") +
             "</quillmark>",
         true, true},
        {"an id twice", request("<texts><text id=\"a\"/><textBase64 id=\"a\"/></texts>"), true,
         false},
        {"a version spelled otherwise", request("", "version=\"1.010\""), false, false},
        {"no version", request("", ""), false, false},
        {"a qualified id",
         request("<readCalls><getInformation x:id=\"1\" classifierName=\"s\"/></readCalls>",
                 "version=\"1.01\" xmlns:x=\"urn:x\""),
         false, false},
        {"an extra attribute", request(textT + classify("t", "s", " x=\"1\"/")), false, false},
        {"a missing attribute",
         request("<readCalls><classify id=\"1\" classifierName=\"s\"/></readCalls>"), false, false},
        {"a name of 101 bytes", request(textT + classify("t", hundred + "n")), false, false},
        {"a size of ten digits",
         request("<writeCalls classifierName=\"s\" maxSize=\"1234567890\"><create id=\"1\"/>"
                 "</writeCalls>"),
         false, false},
        {"an id in two texts elements",
         request("<texts><text id=\"a\"/></texts><texts><text id=\"a\"/></texts>"), false, false},
        {"read calls without a call", request("<readCalls/>"), false, false},
        {"text between calls",
         request("<readCalls>x<getInformation id=\"1\" classifierName=\"s\"/></readCalls>"), false,
         false},
        {"CDATA among calls",
         request("<readCalls><![CDATA[ ]]><getInformation id=\"g\" "
                 "classifierName=\"n\"/></readCalls>"),
         false, false},
        {"white space in a call", request(textT + classify("t", "s", "> </classify")), false,
         false},
        {"an element in a text", request("<texts><text id=\"t\"><b/></text></texts>"), false,
         false},
        {"a comment in a text", request("<texts><text id=\"t\">a<!-- c --></text></texts>"), false,
         false},
        {"a write call among reads", request("<readCalls><create id=\"1\"/></readCalls>"), false,
         false},
        {"a child in another namespace", request("<texts xmlns=\"urn:other\"/>"), false, false},
        {"another root", "<texts xmlns=\"" + RequestNamespace + "\"/>", false, false},
        {"the root in no namespace", "<quillmark version=\"1.01\"/>", false, false},
        {"a reference in an attribute", request("<texts><text id=\"a&amp;b\"/></texts>"), false,
         false},
        {"an entity not declared", request("<texts><text id=\"a\">&nbsp;</text></texts>"), false,
         false},
        {"a document type", "<!DOCTYPE quillmark>" + request(""), false, false},
        {"malformed", request("<texts>"), false, false},
        {"bytes the declared encoding cannot convert",
         "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><quillmark xmlns=\"" + RequestNamespace +
             "\" version=\"1.00\"><texts><text id=\"t\">\xff\xfe</text></texts></quillmark>",
         false, false},
        {"more attributes than any element may have", request(attributes33), false, false},
        {"a text longer than the tree keeps in one node",
         request("<texts><text id=\"t\">" + std::string(10'000'001, 'x') + "</text></texts>"),
         false, false},
    };
    Accepting anything;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ::testing::internal::CaptureStderr();
        const bool admitted =
            xml::ShapeReader::read(row.document, RequestNamespace, requestShape::Shape, &anything);
        const std::optional<Request> read =
            RequestReader::readUsual(row.document, RequestNamespace);
        // Whatever the library finds, the tree reports; the reading itself says nothing.
        EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
        EXPECT_EQ(row.admitted, admitted);
        EXPECT_EQ(row.read, read.has_value());
        if (!admitted) continue;
        xml::Document document(&schemas);
        document.loadFromMemory(row.document);
        EXPECT_NO_THROW(document.validate(xml::IdentityConstraints::LeftOut));
        if (!read) continue;
        EXPECT_NO_THROW(document.validate());
        const xml::Element root = document.rootElement();
        EXPECT_TRUE(RequestReader::fromTree(root, RequestTexts(root, RequestNamespace),
                                            RequestNamespace) == *read);
    }
}

// The prefixed tag names, the decoded entities and the normalised attribute values are what
// callers see: written out here, so that both ways cannot agree on something wrong.
TEST(RequestReaderTest, KeepsNamesAsWrittenAndTextsAsTheParserGivesThem) {
    const std::optional<Request> read = RequestReader::readUsual(
        request("<qm:texts><qm:text id=\"a\">x &amp; &#x41;<![CDATA[<]]></qm:text>"
                "<qm:textBase64 id=\"b\">eA==</qm:textBase64></qm:texts><qm:writeCalls "
                "classifierName=\"n\"><qm:addClass id=\"1\" className=\"p\tq\"/></qm:writeCalls>",
                "version=\"1.01\"", "qm:quillmark", "xmlns:qm=\"" + RequestNamespace + "\""),
        RequestNamespace);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ("qm:quillmark", read->root.getTagName());
    EXPECT_EQ("1.01", read->root.getAttribute("version"));
    EXPECT_EQ("x & A<", read->texts.lookup("a"));
    EXPECT_EQ("qm:addClass", read->writeCalls->calls.at(0).getTagName());
    EXPECT_EQ("p q", read->writeCalls->calls.at(0).getAttribute("className"));
    EXPECT_FALSE(read->readCalls.has_value());
    EXPECT_THROW(read->texts.lookup("b"), InternalCallException);
    EXPECT_THROW(read->root.getAttribute("id"), xml::ElementException);
}

}  // namespace
}  // namespace norvale::quillmark
