#include "server/test/Api.h"

#include <gtest/gtest.h>

#include <string>

#include "server/test/SelfTestSupport.h"
#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace {

using norvale::quillmark::test::Api;
using norvale::quillmark::test::ReadCallsApi;
using norvale::quillmark::test::WriteCallsApi;
using norvale::quillmark::test::support::schemaFolder;

// The request schema as the server loads it, and documents read through it.
class ApiTest : public ::testing::Test {
protected:
    ApiTest() {
        xml::Document schema;
        schema.loadFromFile(schemaFolder() + "RequestSchema.xsd");
        _namespace = schema.getTargetNamespace();
        _schemas.add(_namespace, schema);
    }

    std::unique_ptr<xml::Document> load(const std::string& request) {
        auto document = std::make_unique<xml::Document>(&_schemas);
        document->setSelectionNamespaces("xmlns:qm='" + _namespace + "'");
        document->loadFromMemory(request);
        return document;
    }

    bool valid(const std::string& request) {
        try {
            load(request)->validate();
            return true;
        } catch (const xml::XMLException&) {
            return false;
        }
    }

    util::Base64EncoderImpl _encoder;
    util::Base64DecoderImpl _decoder;
    xml::SchemaCache _schemas;
    std::string _namespace;
};

TEST_F(ApiTest, WritesInTheNamespaceOfTheRequestSchema) {
    EXPECT_EQ(_namespace, Api::RequestNamespace);
}

TEST_F(ApiTest, ReadRequestCarriesVersionTextsAndCallsAndValidates) {
    ReadCallsApi api(&_encoder, "1.01");
    const std::string bytes("a < b & \"c\"\xe4\x00\xff", 13);
    api.addText("first", bytes);
    api.addText("second", "hejsan");
    api.classify("call_1", "test_engswe", "first");
    api.classify("call_2", "other", "second");
    const std::string request = api.getRequest();

    EXPECT_EQ(0u, request.find("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<quillmark "));
    EXPECT_EQ(request.size() - 12, request.rfind("</quillmark>"));
    const auto document = load(request);
    document->validate();
    const xml::Element root = document->selectExactlyOne("/qm:quillmark");
    EXPECT_EQ("1.01", root.getAttribute("version"));

    const xml::NodeList texts = root.selectNodes("qm:texts/qm:textBase64");
    ASSERT_EQ(2u, texts.count());
    EXPECT_EQ("first", texts.item(0).getAttribute("id"));
    EXPECT_EQ(bytes, _decoder.decode(texts.item(0).getText()));
    EXPECT_EQ("hejsan", _decoder.decode(texts.item(1).getText()));
    EXPECT_EQ(0u, root.selectNodes("qm:texts/qm:text").count());

    EXPECT_EQ(0u, root.selectNodes("qm:writeCalls").count());
    EXPECT_EQ(0u, root.selectNodes("qm:readCalls/@*").count());
    const xml::NodeList calls = root.selectNodes("qm:readCalls/*");
    ASSERT_EQ(2u, calls.count());
    EXPECT_EQ("classify", calls.item(1).getTagName());
    EXPECT_EQ("call_2", calls.item(1).getAttribute("id"));
    EXPECT_EQ("other", calls.item(1).getAttribute("classifierName"));
    EXPECT_EQ("second", calls.item(1).getAttribute("textId"));
}

TEST_F(ApiTest, WriteRequestNamesItsClassifierAndKeepsTheCallOrder) {
    WriteCallsApi api(&_encoder, "1.00", "stresstest_cls1");
    api.addText("numbers", "0 1 2");
    api.create("c1");
    api.addClass("c2", "numbers");
    api.train("c3", "numbers", "numbers");
    api.remove("c4");
    const auto document = load(api.getRequest());
    document->validate();
    const xml::Element root = document->selectExactlyOne("/qm:quillmark");
    EXPECT_EQ("1.00", root.getAttribute("version"));
    EXPECT_EQ(0u, root.selectNodes("qm:readCalls").count());
    EXPECT_EQ("stresstest_cls1",
              root.selectExactlyOne("qm:writeCalls").getAttribute("classifierName"));
    const xml::NodeList calls = root.selectNodes("qm:writeCalls/*");
    ASSERT_EQ(4u, calls.count());
    const char* names[] = {"create", "addClass", "train", "remove"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(names[i], calls.item(i).getTagName());
        EXPECT_EQ("c" + std::to_string(i + 1), calls.item(i).getAttribute("id"));
    }
    EXPECT_EQ("numbers", calls.item(1).getAttribute("className"));
    EXPECT_EQ("numbers", calls.item(2).getAttribute("textId"));
}

TEST_F(ApiTest, EscapesAttributeValues) {
    ReadCallsApi api(&_encoder, "1.00");
    api.addText("a\"<&>'b", "x");
    api.classify("id \"1\" & <2>", "name", "a\"<&>'b");
    const auto document = load(api.getRequest());
    document->validate();
    EXPECT_EQ(
        "id \"1\" & <2>",
        document->selectExactlyOne("/qm:quillmark/qm:readCalls/qm:classify").getAttribute("id"));
}

// The bad requests of the test cases rely on the schema refusing exactly these shapes, while
// the same requests with the fault removed pass.
TEST_F(ApiTest, BadRequestShapesAreRefusedByTheSchema) {
    ReadCallsApi noCalls(&_encoder, "1.00");
    EXPECT_FALSE(valid(noCalls.getRequest()));
    noCalls.addText("textId1", "hejsan");
    EXPECT_FALSE(valid(noCalls.getRequest()));
    noCalls.classify("call_1", "test_engswe", "textId1");
    EXPECT_TRUE(valid(noCalls.getRequest()));

    ReadCallsApi noTexts(&_encoder, "1.00");
    noTexts.classify("call_1", "test_engswe", "textId1");
    EXPECT_FALSE(valid(noTexts.getRequest()));

    ReadCallsApi version(&_encoder, "2.00");
    version.addText("textId1", "hejsan svejsan");
    version.classify("call_1", "test_engswe", "textId1");
    EXPECT_FALSE(valid(version.getRequest()));

    ReadCallsApi twoTexts(&_encoder, "1.01");
    twoTexts.addText("textId1", "hejsan svejsan");
    twoTexts.addText("textId1", "hejsan svejsan");
    twoTexts.classify("call_1", "test_engswe", "textId1");
    EXPECT_FALSE(valid(twoTexts.getRequest()));

    ReadCallsApi twoCalls(&_encoder, "1.01");
    twoCalls.addText("textId1", "hejsan svejsan");
    twoCalls.classify("call_1", "test_engswe", "textId1");
    EXPECT_TRUE(valid(twoCalls.getRequest()));
    twoCalls.classify("call_2", "test_engswe", "textId2");
    EXPECT_FALSE(valid(twoCalls.getRequest()));

    WriteCallsApi emptyWrite(&_encoder, "1.00", "name");
    EXPECT_FALSE(valid(emptyWrite.getRequest()));
}

}  // namespace
