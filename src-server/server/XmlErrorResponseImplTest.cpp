#include "server/XmlErrorResponseImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/ErrorResponseFactoryImpl.h"
#include "server/ResponseSchemaTestSupport.h"
#include "server/StatusCode.h"

namespace norvale::quillmark {
namespace {

// The message stands between the status tags, escaped except for the apostrophe; a parse
// error's quoted source line (between "Error line: " and "System error message: ") is cut, and
// bytes that are no XML characters become question marks.
TEST(XmlErrorResponseImplTest, MessagesAreEscapedCutAndCleanedBetweenTheStatusTags) {
    const struct {
        int code;
        std::string message;
        std::string content;
    } cases[] = {
        {statusCode::BAD_REQUEST,
         "The requested classifier could not be found. './classifiers//spam.dat'.\nCall id: 2\n",
         "The requested classifier could not be found. './classifiers//spam.dat'.\nCall id: 2\n"},
        {statusCode::SERVER_ERROR, "a & b <c> \"d\" 'e'", "a &amp; b &lt;c&gt; &quot;d&quot; 'e'"},
        {statusCode::BAD_REQUEST,
         "Problems validating the xml document.\r\nLine: 3\nDescription: Element 'bogus'.\n"
         "Error line: <readCalls><bogus id=\"1\"/></readCalls>\n\n"
         "System error message: Invalid argument. Error code: 22.",
         "Problems validating the xml document.\r\nLine: 3\nDescription: Element 'bogus'.\n"
         "System error message: Invalid argument. Error code: 22."},
        // Without both markers in this order the message is sent whole.
        {statusCode::BAD_REQUEST, "Line: 1\nError line: <quillmark>\n",
         "Line: 1\nError line: &lt;quillmark&gt;\n"},
        {statusCode::SERVER_ERROR, "System error message: x. Error line: y",
         "System error message: x. Error line: y"},
        {statusCode::BAD_REQUEST,
         std::string("Error line: a\x01\x1f\tb\r\n") + "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +
             "\xc3 \xc0\x80 \xed\xa0\x80 \xef\xbf\xbe \xf4\x90\x80\x80 " + "\x80\xff" +
             std::string(1, '\0') + "\xe2\x82",
         std::string("Error line: a??\tb\r\n") + "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +
             "? ?? ??? ??? ???? ?????"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                  "<quillmark xmlns=\"urn:q\" version=\"1.00\">\n"
                  "\t<status success=\"false\" statusCode=\"" + std::to_string(c.code) + "\">" +
                      c.content + "\t</status>\n</quillmark>",
                  XmlErrorResponseImpl("urn:q", "1.00").getErrorResponse(c.code, c.message));
    }
}

// Whatever the code and the bytes of the message, the document is valid.
TEST(XmlErrorResponseImplTest, EveryCodeAndEveryByteGiveAValidDocument) {
    const test::ResponseSchemaCheck schema;
    const std::unique_ptr<ErrorResponse> writer = ErrorResponseFactoryImpl(xml::test::ResponseNamespace, "1.00").create();
    std::string everyByte = "Error line: ";
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(255 - i);
    for (int code : {statusCode::BAD_REQUEST, statusCode::REQUEST_TOO_LARGE, statusCode::SERVER_ERROR, statusCode::OUT_OF_MEMORY}) {
        for (const std::string& message : {std::string("Line one & <two>\nCall id: \"x\"\n"), std::string(), everyByte}) {
            const std::string document = writer->getErrorResponse(code, message);
            EXPECT_NE(std::string::npos, document.find("statusCode=\"" + std::to_string(code) + "\">")) << document;
            EXPECT_TRUE(schema.valid(document)) << document;
        }
    }
}

}  // namespace
}  // namespace norvale::quillmark
