#include "client/RequestBuilder.h"

#include <gtest/gtest.h>

#include <string>

#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark::client {
namespace {

const util::Base64EncoderImpl Encoder;

class RequestBuilderTest : public ::testing::Test {
protected:
    RequestBuilderTest() {
        xml::Document schema;
        schema.loadFromFile(std::string(QM_SCHEMA_DIR) + "/server/RequestSchema.xsd");
        _schemas.add(schema.getTargetNamespace(), schema);
    }

    // Empty when `request` is valid, else the validator's report.
    std::string problems(const std::string& request) const {
        try {
            xml::Document loaded(&_schemas);
            loaded.loadFromMemory(request);
            loaded.validate();
            return "";
        } catch (const exceptions::Exception& e) {
            return e.what();
        }
    }

    xml::SchemaCache _schemas;
};

// The texts and names a request carries, read back by an XML parser: every byte survives.
TEST_F(RequestBuilderTest, TextsAndNamesArriveUnchanged) {
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    const std::string latin1 = "hej hopp detta \xe4r en text p\xe5 svenska";
    const std::string className = "a & b < c > d \" e ' f";

    RequestBuilder builder("1.01", &Encoder);
    builder.setWriteClassifier("news");
    builder.train(className, builder.addText(allBytes));
    builder.train(className, builder.addText(latin1));
    const std::string request = builder.build();
    ASSERT_EQ(problems(request), "");

    xml::Document document;
    document.setSelectionNamespaces("xmlns:qm='" + std::string(RequestBuilder::RequestNamespace) +
                                    "'");
    document.loadFromMemory(request);
    const util::Base64DecoderImpl decoder;
    EXPECT_EQ(decoder.decode(document.selectExactlyOne("//qm:textBase64[@id='t1']").getText()),
              allBytes);
    EXPECT_EQ(decoder.decode(document.selectExactlyOne("//qm:textBase64[@id='t2']").getText()),
              latin1);
    const xml::Element train = document.selectExactlyOne("//qm:train[@id='c2']");
    EXPECT_EQ(train.getAttribute("className"), className);
    EXPECT_EQ(train.getAttribute("textId"), "t2");
}

TEST_F(RequestBuilderTest, SizeIsTheLengthOfTheBuiltDocumentInEveryState) {
    RequestBuilder builder("1.01", &Encoder);
    EXPECT_EQ(builder.size(), builder.build().size());
    builder.addText("x");
    EXPECT_EQ(builder.size(), builder.build().size());
    builder.classify("news", "t1");
    EXPECT_EQ(builder.size(), builder.build().size());
    builder.setWriteClassifier("a&b");
    builder.addClass("<c>");
    EXPECT_EQ(builder.size(), builder.build().size());
}

TEST_F(RequestBuilderTest, RollbackForgetsTextsCallsAndIds) {
    RequestBuilder builder("1.01", &Encoder);
    builder.setWriteClassifier("news");
    builder.train("sport", builder.addText("first"));
    const std::string before = builder.build();
    const RequestBuilder::Mark mark = builder.mark();

    builder.train("sport", builder.addText("second"));
    builder.classify("news", "t2");
    builder.rollback(mark);

    EXPECT_EQ(builder.build(), before);
    EXPECT_EQ(builder.textCount(), 1u);
    EXPECT_EQ(builder.callCount(), 1u);
    // Ids continue where the mark was taken.
    EXPECT_EQ(builder.addText("third"), "t2");
    EXPECT_EQ(builder.train("sport", "t2"), "c2");
}

}  // namespace
}  // namespace norvale::quillmark::client
