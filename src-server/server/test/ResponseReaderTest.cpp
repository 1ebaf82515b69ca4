#include "server/test/ResponseReader.h"

#include <gtest/gtest.h>

#include <string>

#include "classifier/Classification.h"
#include "server/RequestVersion.h"
#include "server/XmlErrorResponseImpl.h"
#include "server/XmlResponseImpl.h"
#include "xml/Document.h"

namespace {

using norvale::quillmark::RequestVersion;
using norvale::quillmark::XmlErrorResponseImpl;
using norvale::quillmark::XmlResponseImpl;
using norvale::quillmark::test::ParsedResponse;
using norvale::quillmark::test::ResponseReader;

std::string schemaFolder() {
    return std::string(QM_SCHEMA_DIR) + "/server/";
}

const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";

class ResponseReaderTest : public ::testing::Test {
protected:
    ResponseReader _reader{schemaFolder()};
};

TEST_F(ResponseReaderTest, ReadsTheResultsOfASuccessDocumentInOrder) {
    XmlResponseImpl writer(ResponseNamespace, RequestVersion("1.01", 1.01));
    norvale::classifier::Classification classification;
    classification.setProbability("eng", 0.25);
    classification.setProbability("swe", 0.75);
    writer.classify("r1", classification);
    writer.create("w1");
    writer.train("w2");
    writer.classify("r2", classification);

    const ParsedResponse r = _reader.read(writer.getResponse());
    EXPECT_TRUE(r.success);
    EXPECT_EQ(2000, r.code);
    EXPECT_EQ("1.01", r.version);
    EXPECT_EQ("", r.errorMessage);
    ASSERT_EQ(4u, r.responses.size());
    EXPECT_EQ("classify", r.responses[0].name);
    EXPECT_EQ("r1", r.responses[0].id);
    EXPECT_EQ("r2", r.responses[1].id);
    EXPECT_EQ("create", r.responses[2].name);
    EXPECT_EQ("train", r.responses[3].name);
    EXPECT_EQ("w2", r.responses[3].id);
}

TEST_F(ResponseReaderTest, ReadsAnErrorDocumentWithTheSchemaVersion) {
    EXPECT_EQ("1.00", _reader.schemaVersion());
    const std::string text = XmlErrorResponseImpl(ResponseNamespace, _reader.schemaVersion())
                                 .getErrorResponse(4000, "The requested classifier <x> & co.");
    const ParsedResponse r = _reader.read(text);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(4000, r.code);
    EXPECT_EQ("The requested classifier <x> & co.", r.errorMessage);
    EXPECT_EQ("1.00", r.version);
    EXPECT_TRUE(r.responses.empty());
}

TEST_F(ResponseReaderTest, RefusesWhatIsNoValidResponse) {
    EXPECT_THROW(_reader.read(""), xml::DocumentException);
    EXPECT_THROW(_reader.read("<quillmark"), xml::DocumentException);
    // Well-formed, but without the status element the schema requires.
    EXPECT_THROW(_reader.read("<quillmark xmlns=\"" + ResponseNamespace + "\" version=\"1.00\"/>"),
                 xml::ValidateException);
    // A request document is in another namespace.
    EXPECT_THROW(_reader.read("<quillmark xmlns=\"http://quillmark.invalid/1/server/"
                              "RequestSchema\" version=\"1.00\"><readCalls/></quillmark>"),
                 xml::XMLException);
    // A missing schema folder fails already at construction.
    EXPECT_THROW(ResponseReader("/nonexistent/folder/"), xml::XMLException);
}

}  // namespace
