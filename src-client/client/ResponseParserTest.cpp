#include "client/ResponseParser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "classifier/ClassInformation.h"
#include "classifier/Classification.h"
#include "classifier/KeywordQueue.h"
#include "client/JsonResultWriter.h"
#include "server/RequestVersion.h"
#include "server/XmlErrorResponseImpl.h"
#include "server/XmlResponseImpl.h"

namespace norvale::quillmark::client {
namespace {

const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";

// What the end-to-end tests cannot produce, written by the server's own response writer: names
// that need escaping, counts at the top of their range, results of one kind looked up as another.
TEST(ResponseParserTest, ReadsEveryResultOfASuccessDocument) {
    XmlResponseImpl writer(ResponseNamespace, RequestVersion::parse("1.01"));
    classifier::Classification classification;
    classification.setTextCoverage(0.75);
    classification.setProbability("spam", 0.999359);
    classification.setProbability("Ham & <eggs>", 6.40511e-05);
    writer.classify("c1", classification);
    classifier::KeywordQueue keywords(10, 0.0);
    keywords.offer(classifier::Keyword("cheap", 5, 0.5, 2, "spam"));
    writer.classifyKeywords("c2", keywords);
    writer.getInformation("c3", {{"spam", 4000000000u, 4294967295u}, {"a\"b", 0, 0}});
    writer.train("c5");

    // The whole response as the JSON writer prints it for send --json.
    const Response response = parseResponse(writer.getResponse());
    std::ostringstream json;
    JsonResultWriter(&json).response("", response);
    EXPECT_EQ(
        json.str(),
        R"({"success": true, "statusCode": 2000, "version": "1.01", "message": "", "readCalls": [{"call": "classify", "id": "c1", "textCoverage": 0.75, "classes": [{"className": "spam", "p": 0.999359}, {"className": "Ham & <eggs>", "p": 6.40511e-05}]}, {"call": "classifyKeywords", "id": "c2", "keywords": [{"keyword": "cheap", "className": "spam", "p": 0.5}]}, {"call": "getInformation", "id": "c3", "classes": [{"className": "spam", "uniqueFeatures": 4000000000, "totalCount": 4294967295}, {"className": "a\"b", "uniqueFeatures": 0, "totalCount": 0}]}], "writeCalls": [{"call": "train", "id": "c5"}]}
)");
    EXPECT_EQ(response.find<KeywordsResult>("c1"), nullptr);
}

TEST(ResponseParserTest, AnswersThatAreNoResponseDocumentsAreRefused) {
    const std::string success =
        "<quillmark version=\"1.00\"><status success=\"true\" statusCode=\"2000\"/>";
    const std::string answers[] = {
        "<?xml version=\"1.0\"?><other/>",
        "<quillmark version=\"1.00\"></quillmark>",
        "<quillmark version=\"1.00\"><status success=\"maybe\" statusCode=\"2000\"/></quillmark>",
        "<quillmark version=\"1.00\"><status success=\"true\" statusCode=\"x\"/></quillmark>",
        success +
            "<readCalls><classify id=\"c1\"><classification><class className=\"a\" p=\"high\"/>"
            "</classification></classify></readCalls></quillmark>",
        success + "<readCalls><unknown id=\"c1\"/></readCalls></quillmark>",
        success,
    };
    for (const std::string& answer : answers) {
        EXPECT_THROW(parseResponse(answer), ResponseFormatException) << answer;
    }
    // The server writes bytes that XML cannot carry as '?', so the rest of the message arrives.
    const std::string message = std::string("bell \x07 and nul ", 15) + '\0' + " end";
    const XmlErrorResponseImpl errors(ResponseNamespace, "1.00");
    EXPECT_EQ(parseResponse(errors.getErrorResponse(5000, message)).message,
              "bell ? and nul ? end");
}

TEST(ResponseParserTest, ProtectionRoundTripsEveryByteAndLeavesCleanTextAlone) {
    std::string allBytes(256, '\0');
    for (int b = 0; b < 256; ++b) allBytes[b] = static_cast<char>(b);
    const std::string protectedText = protectBytes(allBytes);
    EXPECT_NE(protectedText, allBytes);
    EXPECT_EQ(restoreBytes(protectedText), allBytes);

    const std::string clean = "tab\t line\n \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 <&>";
    EXPECT_EQ(protectBytes(clean), clean);
    // Malformed sequences: a lone continuation byte, a cut sequence, an overlong form, a
    // surrogate, U+FFFE.
    for (const std::string& bad :
         std::vector<std::string>{"\x80", "\xc3", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80",
                                  "\xef\xbf\xbe", std::string("\x01", 1)}) {
        const std::string text = "a" + bad + "b";
        EXPECT_NE(protectBytes(text), text);
        EXPECT_EQ(restoreBytes(protectBytes(text)), text);
    }
}
}  // namespace
}  // namespace norvale::quillmark::client
