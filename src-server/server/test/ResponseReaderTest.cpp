#include "server/test/ResponseReader.h"

#include <gtest/gtest.h>

#include <string>

#include "classifier/Classification.h"
#include "server/RequestVersion.h"
#include "server/XmlErrorResponseImpl.h"
#include "server/XmlResponseImpl.h"
#include "xml/Document.h"

namespace {

using namespace norvale::quillmark;
using test::ParsedResponse;

const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";

// The facts of an answer in one line: success, code, version, message and the results.
std::string summary(const ParsedResponse& r) {
    std::string text = std::to_string(r.success) + " " + std::to_string(r.code) + " " + r.version +
                       " [" + r.errorMessage + "]";
    for (const auto& call : r.responses) text += " " + call.name + ":" + call.id;
    return text;
}

// Read calls come before write calls in an answer; an error document carries the schema's
// version whatever the request's was.
TEST(ResponseReaderTest, ReadsValidAnswersAndRefusesEverythingElse) {
    const test::ResponseReader reader(std::string(QM_SCHEMA_DIR) + "/server/");
    XmlResponseImpl writer(ResponseNamespace, RequestVersion("1.01", 1.01));
    norvale::classifier::Classification classification;
    classification.setProbability("eng", 0.25);
    writer.classify("r1", classification);
    writer.create("w1");
    writer.train("w2");
    writer.classify("r2", classification);
    EXPECT_EQ("1 2000 1.01 [] classify:r1 classify:r2 create:w1 train:w2",
              summary(reader.read(writer.getResponse())));
    EXPECT_EQ("1.00", reader.schemaVersion());
    EXPECT_EQ(
        "0 4000 1.00 [The requested classifier <x> & co.]",
        summary(reader.read(XmlErrorResponseImpl(ResponseNamespace, "1.00")
                                .getErrorResponse(4000, "The requested classifier <x> & co."))));

    for (const std::string& refused : {
             std::string(),
             std::string("<quillmark"),
             // Well-formed, but without the status element the schema requires.
             "<quillmark xmlns=\"" + ResponseNamespace + "\" version=\"1.00\"/>",
             // A request document is in another namespace.
             std::string("<quillmark xmlns=\"http://quillmark.invalid/1/server/RequestSchema\" "
                         "version=\"1.00\"><readCalls/></quillmark>"),
         }) {
        EXPECT_THROW(reader.read(refused), xml::XMLException) << refused;
    }
    EXPECT_THROW(test::ResponseReader("/nonexistent/folder/"), xml::XMLException);
}

}  // namespace
