// The shape admits the requests clients send and never one the request schema refuses, and it is
// in use only for the schema it was written for.
#include "server/RequestShape.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>

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

std::string request(const std::string& rootAttributes, const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<quillmark xmlns=\"" + RequestNamespace + "\" " +
           rootAttributes + ">" + body + "</quillmark>";
}

TEST(RequestShapeTest, AdmitsOnlyRequestsTheSchemaAccepts) {
    xml::SchemaCache schemas;
    xml::test::addSchema(schemas, "server/RequestSchema.xsd");
    EXPECT_EQ(requestShape::SchemaChecksum, schemas.sourceChecksum(RequestNamespace));

    const std::string texts =
        "<texts>\n  <text id=\"t1\">one &amp; two</text><!-- note -->\n"
        "  <textBase64 id=\"t2\">aGVq</textBase64><text id=\"t3\"><![CDATA[<b>]]></text>"
        "<text id=\"a.b\"/></texts>";
    const std::string reads =
        "<readCalls><classify id=\"1\" classifierName=\"spam-2.x_\" textId=\"t1\"/>\n"
        "<?pi data?><classifyKeywords id=\"2\" classifierName=\"spam\" textId=\"t2\"/>"
        "<getInformation id=\"3\" classifierName=\"spam\"/></readCalls>";
    const std::string writes =
        "<writeCalls classifierName=\"spam\" maxSize=\"-123456789\"><create id=\"4\"/>"
        "<addClass id=\"5\" className=\"a\"/><train id=\"6\" className=\"a\" textId=\"t1\"/>"
        "<untrain id=\"7\" className=\"a\" textId=\"t1\"/><removeClass id=\"8\" className=\"a\"/>"
        "<remove id=\"9\"/></writeCalls>";
    const std::string v = "version=\"1.01\"";
    const std::string classify = "<readCalls><classify id=\"1\" classifierName=\"";
    const std::string hundred(100, 'n');
    const struct {
        const char* what;
        std::string document;
        bool admitted;
    } rows[] = {
        {"every call, writes first", request(v, writes + "\n" + reads + texts), true},
        {"no calls", request("version=\"1.00\"", ""), true},
        {"a name of 100 bytes", request(v, classify + hundred + "\" textId=\"t\"/></readCalls>"),
         true},
        {"a version spelled otherwise", request("version=\"1.010\"", ""), false},
        {"an unknown version", request("version=\"2.00\"", ""), false},
        {"no version", request("", ""), false},
        {"a qualified id",
         request(v + " xmlns:x=\"urn:x\"",
                 "<readCalls><getInformation x:id=\"1\" classifierName=\"s\"/>"
                 "</readCalls>"),
         false},
        {"an extra attribute", request(v, classify + "s\" textId=\"t\" x=\"1\"/></readCalls>"),
         false},
        {"a missing attribute", request(v, classify + "s\"/></readCalls>"), false},
        {"a name beginning with a dot", request(v, classify + ".s\" textId=\"t\"/></readCalls>"),
         false},
        {"a name with a space", request(v, classify + "a b\" textId=\"t\"/></readCalls>"), false},
        {"a name of 101 bytes", request(v, classify + hundred + "n\" textId=\"t\"/></readCalls>"),
         false},
        {"a size of ten digits",
         request(v,
                 "<writeCalls classifierName=\"s\" maxSize=\"1234567890\"><create id=\"1\"/>"
                 "</writeCalls>"),
         false},
        {"texts twice", request(v, "<texts/><texts/>"), false},
        {"read calls without a call", request(v, "<readCalls/>"), false},
        {"text between calls",
         request(v,
                 "<readCalls>x<getInformation id=\"1\" "
                 "classifierName=\"s\"/></readCalls>"),
         false},
        {"white space in a call",
         request(v, classify + "s\" textId=\"t\"> </classify></readCalls>"), false},
        {"an element in a text", request(v, "<texts><text id=\"t\"><b/></text></texts>"), false},
        {"a comment in a text", request(v, "<texts><text id=\"t\">a<!-- c --></text></texts>"),
         false},
        {"a write call among reads", request(v, "<readCalls><create id=\"1\"/></readCalls>"),
         false},
        {"a child in another namespace", request(v, "<texts xmlns=\"urn:other\"/>"), false},
        {"another root", "<texts xmlns=\"" + RequestNamespace + "\"/>", false},
        {"the root in no namespace", "<quillmark version=\"1.01\"/>", false},
    };
    Accepting anything;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const bool admitted =
            xml::ShapeReader::read(row.document, RequestNamespace, requestShape::Shape, &anything);
        EXPECT_EQ(row.admitted, admitted);
        if (admitted) {
            xml::Document document(&schemas);
            document.loadFromMemory(row.document);
            EXPECT_NO_THROW(document.validate(xml::IdentityConstraints::LeftOut));
        }
    }
}

}  // namespace
}  // namespace norvale::quillmark
