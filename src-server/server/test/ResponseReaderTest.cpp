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

// Read calls come before write calls in an answer; an error document carries the schema's
// version whatever the request's was, its message without the writer's layout; a document the
// schema refuses is refused.
TEST(ResponseReaderTest, ReadsValidAnswersAndRefusesEverythingElse) {
    const std::string ns = "http://quillmark.invalid/1/server/ResponseSchema";
    const test::ResponseReader reader(std::string(QM_SCHEMA_DIR) + "/server/");
    XmlResponseImpl writer(ns, RequestVersion("1.01", 1.01));
    norvale::classifier::Classification classification;
    classification.setProbability("eng", 0.25);
    writer.create("w1");
    writer.classify("r1", classification);
    std::string calls;
    const auto read = reader.read(writer.getResponse());
    for (const auto& call : read.responses) calls += " " + call.name + ":" + call.id;
    EXPECT_EQ("1 2000 1.01 classify:r1 create:w1",
              std::to_string(read.success) + " " + std::to_string(read.code) + " " +
                  read.version + calls);
    const auto error = reader.read(XmlErrorResponseImpl(ns, "1.00").getErrorResponse(4000, "<x> &"));
    EXPECT_EQ("0 4000 1.00/1.00 <x> &",
              std::to_string(error.success) + " " + std::to_string(error.code) + " " +
                  error.version + "/" + reader.schemaVersion() + " " + error.errorMessage);
    EXPECT_THROW(reader.read("<quillmark xmlns=\"" + ns + "\" version=\"1.00\"/>"),
                 xml::XMLException);
}

}  // namespace
