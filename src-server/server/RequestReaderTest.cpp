// A request read in one pass is read exactly as from its tree, and every request the one pass
// cannot read the same way is left to the tree.
#include "server/RequestReader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "server/CallException.h"
#include "server/RequestShape.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark {
namespace {

using xml::test::RequestNamespace;

std::string request(const std::string& body, const std::string& root = "quillmark",
                    const std::string& declarations = "xmlns=\"" + RequestNamespace + "\"") {
    return "<?xml version=\"1.0\"?>\n<" + root + " " + declarations + " version=\"1.01\">" + body +
           "</" + root + ">";
}

std::string classify(const std::string& textId) {
    return "<readCalls><classify id=\"c\" classifierName=\"n\" textId=\"" + textId +
           "\"/></readCalls>";
}

TEST(RequestReaderTest, ReadsInOnePassWhatTheTreeReadsTheSame) {
    xml::SchemaCache schemas;
    xml::test::addSchema(schemas, "server/RequestSchema.xsd");
    const std::string texts =
        "<texts>\n  <text id=\"t1\">one &amp; two &lt;&#x41;&#233;\xc3\xa4</text><!-- c -->\n"
        "  <textBase64 id=\"t2\">aGVq</textBase64><text id=\"t3\">a<![CDATA[<b>]]>c</text>"
        "<text id=\"t4\"/></texts>";
    const std::string calls =
        "<writeCalls classifierName=\"n\" maxSize=\"-12\"><create id=\"1\"/>"
        "<addClass id=\"2\" className=\"a\tb\nc\"/><train id=\"3\" className=\"a\" textId=\"t1\"/>"
        "<?pi data?><untrain id=\"4\" className=\"a\" textId=\"t2\"/></writeCalls>\n"
        "<readCalls><classifyKeywords id=\"5\" classifierName=\"n\" textId=\"t3\"/>"
        "<getInformation id=\"6\" classifierName=\"n\"/></readCalls>";
    const std::string prefixed =
        "<qm:texts><qm:textBase64 id=\"e\">eA==</qm:textBase64></qm:texts>"
        "<qm:readCalls><qm:classify id=\"c\" classifierName=\"n\" textId=\"e\"/></qm:readCalls>";
    const std::string attributes33 = [] {
        std::string many = "<readCalls><getInformation id=\"g\" classifierName=\"n\"";
        for (int i = 0; i < 31; ++i) many += " a" + std::to_string(i) + "=\"\"";
        return many + "/></readCalls>";
    }();
    const struct {
        const char* what;
        std::string document;
        bool read;
    } rows[] = {
        {"every call, texts of every kind", request(texts + calls), true},
        {"no calls", request(""), true},
        {"prefixed names",
         request(prefixed, "qm:quillmark", "xmlns:qm=\"" + RequestNamespace + "\""), true},
        {"another encoding",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><quillmark xmlns=\"" + RequestNamespace +
             "\" version=\"1.00\"><texts><text id=\"t\">caf\xe9</text></texts>" + classify("t") +
             "</quillmark>",
         true},
        {"a reference in an attribute", request("<texts><text id=\"a&amp;b\"/></texts>"), false},
        {"an id twice", request("<texts><text id=\"a\"/><textBase64 id=\"a\"/></texts>"), false},
        {"an id in two texts elements",
         request("<texts><text id=\"a\"/></texts><texts><text id=\"a\"/></texts>"), false},
        {"a text id not found", request("<texts><text id=\"a\"/></texts>" + classify("b")), false},
        {"a write call's text not found",
         request("<writeCalls classifierName=\"n\"><train id=\"1\" className=\"a\" textId=\"x\"/>"
                 "</writeCalls>"),
         false},
        {"an entity not declared", request("<texts><text id=\"a\">&nbsp;</text></texts>"), false},
        {"a document type", "<!DOCTYPE quillmark>" + request(""), false},
        {"malformed", request("<texts>"), false},
        {"bytes the declared encoding cannot convert",
         "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><quillmark xmlns=\"" + RequestNamespace +
             "\" version=\"1.00\"><texts><text id=\"t\">\xff\xfe</text></texts></quillmark>",
         false},
        {"a comment in a text", request("<texts><text id=\"a\">x<!-- c --></text></texts>"), false},
        {"white space in a call",
         request("<readCalls><getInformation id=\"g\" "
                 "classifierName=\"n\"> </getInformation></readCalls>"),
         false},
        {"CDATA among calls",
         request("<readCalls><![CDATA[ ]]><getInformation id=\"g\" "
                 "classifierName=\"n\"/></readCalls>"),
         false},
        {"read calls without a call", request("<readCalls/>"), false},
        {"read calls twice", request(classify("t") + classify("t")), false},
        {"an element of another namespace", request("<texts xmlns=\"urn:other\"/>"), false},
        {"the root of another namespace", request("", "quillmark", "xmlns=\"urn:other\""), false},
        {"more attributes than any element may have", request(attributes33), false},
        {"a text longer than the tree keeps in one node",
         request("<texts><text id=\"t\">" + std::string(10'000'001, 'x') + "</text></texts>"),
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ::testing::internal::CaptureStderr();
        const std::optional<Request> read =
            RequestReader::readUsual(row.document, RequestNamespace);
        // Whatever the library finds, the tree reports; the reading itself says nothing.
        EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
        EXPECT_EQ(read.has_value(), row.read);
        if (!read) continue;
        xml::Document document(&schemas);
        document.loadFromMemory(row.document);
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
                "qm:quillmark", "xmlns:qm=\"" + RequestNamespace + "\""),
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
