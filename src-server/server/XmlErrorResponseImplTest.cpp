#include "server/XmlErrorResponseImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/ErrorResponseFactoryImpl.h"
#include "server/ResponseSchemaCheck.h"
#include "server/StatusCode.h"

namespace norvale::quillmark {
namespace {

const std::string Namespace = "http://quillmark.invalid/1/server/ResponseSchema";

std::string errorDocument(int code, const std::string& message) {
    return XmlErrorResponseImpl(Namespace, "1.00").getErrorResponse(code, message);
}

std::string expectedDocument(const std::string& code, const std::string& content) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
           "<quillmark xmlns=\"http://quillmark.invalid/1/server/ResponseSchema\" "
           "version=\"1.00\">\n"
           "\t<status success=\"false\" statusCode=\"" +
           code + "\">" + content +
           "\t</status>\n"
           "</quillmark>";
}

TEST(XmlErrorResponseImplTest, MessageWithLineFeedsIsWrittenBetweenTheStatusTags) {
    const std::string message =
        "The requested classifier could not be found. './classifiers//spam.dat'.\n"
        "Call id: 2\nReadCall: classify\n\nOne of the read calls failed. Therefore the call "
        "sequence was not completed. Please fix the error and try again.\n";
    EXPECT_EQ(expectedDocument("4000", message), errorDocument(statusCode::BAD_REQUEST, message));
}

TEST(XmlErrorResponseImplTest, SpecialCharactersAreEscapedAndTheApostropheIsKept) {
    EXPECT_EQ(expectedDocument("5000", "a &amp; b &lt;c&gt; &quot;d&quot; 'e'"),
              errorDocument(statusCode::SERVER_ERROR, "a & b <c> \"d\" 'e'"));
}

TEST(XmlErrorResponseImplTest, SourceLineBetweenErrorLineAndSystemErrorIsCut) {
    const std::string message =
        "Validation of an request failed, please verify your that your XML is correct."
        "Problems validating the xml document.\r\nError Code: 1871\nLine: 3\nRow: 2\n"
        "Description: Element 'bogus': This element is not expected.\n"
        "Error line: <readCalls><bogus id=\"1\"/></readCalls>\n\n"
        "System error message: Invalid argument. Error code: 22.";
    EXPECT_EQ(expectedDocument("4000",
                               "Validation of an request failed, please verify your that your "
                               "XML is correct.Problems validating the xml document.\r\nError "
                               "Code: 1871\nLine: 3\nRow: 2\n"
                               "Description: Element 'bogus': This element is not expected.\n"
                               "System error message: Invalid argument. Error code: 22."),
              errorDocument(statusCode::BAD_REQUEST, message));
}

// A garbage request's parse error quotes its line; the answer must still be a document.
TEST(XmlErrorResponseImplTest, BytesThatAreNoXmlCharactersBecomeQuestionMarks) {
    const std::string message = std::string("Error line: a\x01\x1f\tb\r\n") +
                                "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +  // valid: kept
                                "\xc3 \xc0\x80 \xed\xa0\x80 \xef\xbf\xbe \xf4\x90\x80\x80 " +
                                "\x80\xff" + std::string(1, '\0') + "\xe2\x82";
    EXPECT_EQ(expectedDocument("4000", std::string("Error line: a??\tb\r\n") +
                                           "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +
                                           "? ?? ??? ??? ???? ?????"),
              errorDocument(statusCode::BAD_REQUEST, message));
}

TEST(XmlErrorResponseImplTest, MessageIsSentWholeWithoutBothMarkersInOrder) {
    const std::string onlyErrorLine = "Line: 1\nError line: <quillmark>\n";
    EXPECT_EQ(expectedDocument("4000", "Line: 1\nError line: &lt;quillmark&gt;\n"),
              errorDocument(statusCode::BAD_REQUEST, onlyErrorLine));

    const std::string reversed = "System error message: x. Error line: y";
    EXPECT_EQ(expectedDocument("5000", reversed),
              errorDocument(statusCode::SERVER_ERROR, reversed));
}

TEST(XmlErrorResponseImplTest, FactoryWritesTheSchemaVersionAndEveryCodeValidates) {
    const test::ResponseSchemaCheck schema;
    const ErrorResponseFactoryImpl factory(schema.responseNamespace(), schema.schemaVersion());
    const std::unique_ptr<ErrorResponse> writer = factory.create();

    for (int code : {statusCode::BAD_REQUEST, statusCode::REQUEST_TOO_LARGE,
                     statusCode::SERVER_ERROR, statusCode::OUT_OF_MEMORY}) {
        const std::string document =
            writer->getErrorResponse(code, "Line one & <two>\nCall id: \"x\"\n");
        EXPECT_NE(std::string::npos,
                  document.find("version=\"" + schema.schemaVersion() + "\">\n"));
        EXPECT_NE(std::string::npos, document.find("statusCode=\"" + std::to_string(code) + "\">"));
        schema.expectValid(document);
    }
    schema.expectValid(writer->getErrorResponse(statusCode::SERVER_ERROR, ""));
    std::string everyByte = "Error line: ";
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(255 - i);
    schema.expectValid(writer->getErrorResponse(statusCode::BAD_REQUEST, everyByte));
}

}  // namespace
}  // namespace norvale::quillmark
