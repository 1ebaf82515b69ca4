#include "server/XmlResponseImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "classifier/ClassInformation.h"
#include "classifier/Classification.h"
#include "classifier/KeywordQueue.h"
#include "server/ResponseFactoryImpl.h"
#include "server/StatusCode.h"
#include "server/XmlErrorResponseImpl.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark {
namespace {

using classifier::Classification;
using classifier::ClassInformation;
using classifier::Keyword;
using classifier::KeywordQueue;

const std::string& Namespace = xml::test::ResponseNamespace;

// Checks a written document against the staged response schema.
bool valid(const std::string& document) {
    xml::SchemaCache schemas;
    xml::test::addSchema(schemas, "server/ResponseSchema.xsd");
    xml::Document parsed(&schemas);
    try {
        parsed.loadFromMemory(document);
        parsed.validate();
    } catch (const xml::XMLException&) {
        return false;
    }
    return true;
}

// What every document begins with.
std::string opening(const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<quillmark xmlns=\"" + Namespace +
           "\" version=\"" + version + "\">\n";
}

// Two classes whose names need escaping; the name map puts "Ham & <eggs>" before "spam".
// Numbers are written with six significant digits and no trailing zeros.
Classification twoClasses() {
    Classification classification;
    classification.setTextCoverage(0.75);
    classification.setProbability("spam", 0.99935941);
    classification.setProbability("Ham & <eggs>", 6.405114e-05);
    return classification;
}

// Offered as 0.5, 0.9, 0.3, 0.7, the heap stores them as 0.3, 0.7, 0.5, 0.9. Keywords are raw
// text bytes cut to a feature's length: a Base64 text may carry any byte, and the cut may fall
// inside a multi-byte character; bytes that are no XML characters become question marks.
KeywordQueue fourKeywords() {
    KeywordQueue queue(30, 0.0);
    for (const auto& [token, length, p, className] :
         {std::tuple{"cheap\xffpills\x01", 12, 0.5, "spam"},
          {"meeting", 7, 0.9, "Ham & <eggs>"},
          {"a&b<c>", 6, 0.3, "spam"},
          {"\xc3\xa9t\xc3\xa9", 4, 0.7, "spam"}}) {
        queue.offer(Keyword(token, length, p, 1, className));
    }
    return queue;
}

const std::vector<ClassInformation> TwoClassInformation = {
    ClassInformation("Ham & <eggs>", 12, 4294967295u), ClassInformation("spam", 0, 0)};

const std::string ClassifyResult =
    "\t<classify id=\"c&amp;1\">\n"
    "\t\t<classification textCoverage=\"0.75\">\n"
    "\t\t\t<class className=\"Ham &amp; &lt;eggs&gt;\" p=\"6.40511e-05\"/>\n"
    "\t\t\t<class className=\"spam\" p=\"0.999359\"/>\n"
    "\t\t</classification>\n"
    "\t</classify>\n";

const std::string InformationResult =
    "\t\t<getInformation id=\"i1\">\n"
    "\t\t\t<classes>\n"
    "\t\t\t\t<classInformation className=\"Ham &amp; &lt;eggs&gt;\">\n"
    "\t\t\t\t\t<uniqueFeatures>12</uniqueFeatures>\n"
    "\t\t\t\t\t<totalCount>4294967295</totalCount>\n"
    "\t\t\t\t</classInformation>\n"
    "\t\t\t\t<classInformation className=\"spam\">\n"
    "\t\t\t\t\t<uniqueFeatures>0</uniqueFeatures>\n"
    "\t\t\t\t\t<totalCount>0</totalCount>\n"
    "\t\t\t\t</classInformation>\n"
    "\t\t\t</classes>\n"
    "\t\t</getInformation>\n";

const std::string WriteResults =
    "\t<writeCalls>\n\t\t<create id=\"w1\"/>\n\t\t<addClass id=\"w2\"/>\n\t\t<train id=\"w3\"/>\n"
    "\t\t<untrain id=\"w4\"/>\n\t\t<removeClass id=\"w5\"/>\n\t\t<remove "
    "id=\"&quot;w6&quot;\"/>\n\t</writeCalls>\n";

void reportAllWriteResults(Response& response) {
    response.create("w1");
    response.addClass("w2");
    response.train("w3");
    response.untrain("w4");
    response.removeClass("w5");
    response.remove("\"w6\"");
}

// The read section precedes the write section whatever the order of the results; a section
// appears only with results; without any the document says so. Only a version attribute of
// exactly 1.01 selects the newer protocol, whose classifications carry the text coverage.
TEST(XmlResponseImplTest, DocumentsOfEachShapeByteForByteAndValid) {
    const std::string success = "\t<status success=\"true\" statusCode=\"2000\"/>\n";
    const std::string noCalls =
        "\t<status success=\"false\" statusCode=\"5000\">No calls were found in the "
        "response.</status>\n";
    const auto classify = [](Response& r) { r.classify("c&1", twoClasses()); };
    const std::string withoutCoverage =
        std::string(ClassifyResult).erase(ClassifyResult.find(" textCoverage"), 20);
    const struct {
        const char* attribute;
        const char* version;
        std::function<void(Response&)> build;
        std::string body;
    } cases[] = {
        {"1.0100", "1.01",
         [&](Response& r) {
             reportAllWriteResults(r);
             classify(r);
             r.classifyKeywords("k1", fourKeywords());
             r.getInformation("i1", TwoClassInformation);
         },
         success + "\t<readCalls>\n" + ClassifyResult +
             "\t<classifyKeywords id=\"k1\">\n\t\t<keywords>\n"
             "\t\t\t<keyword className=\"spam\" p=\"0.3\">a&amp;b&lt;c&gt;</keyword>\n"
             "\t\t\t<keyword className=\"spam\" p=\"0.7\">\xc3\xa9t?</keyword>\n"
             "\t\t\t<keyword className=\"spam\" p=\"0.5\">cheap?pills?</keyword>\n"
             "\t\t\t<keyword className=\"Ham &amp; &lt;eggs&gt;\" p=\"0.9\">meeting</keyword>\n"
             "\t\t</keywords>\n\t</classifyKeywords>\n" +
             InformationResult + "\t</readCalls>\n" + WriteResults},
        {"1.011", "1.00", classify,
         success + "\t<readCalls>\n" + withoutCoverage + "\t</readCalls>\n"},
        {"2.00", "1.00", reportAllWriteResults, success + WriteResults},
        {"1.01", "1.01",
         [](Response& r) {
             r.classifyKeywords("k", KeywordQueue(30, 0.6));
             r.getInformation("i", {});
         },
         success + "\t<readCalls>\n\t<classifyKeywords id=\"k\">\n\t\t<keywords>\n\t\t</keywords>\n"
                   "\t</classifyKeywords>\n\t\t<getInformation id=\"i\">\n\t\t\t<classes>\n"
                   "\t\t\t</classes>\n\t\t</getInformation>\n\t</readCalls>\n"},
        {"0.5", "1.00", [](Response&) {}, noCalls},
        {"1.01", "1.01",
         [&](Response& r) {
             classify(r);
             reportAllWriteResults(r);
             r.clear();
         },
         noCalls},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        XmlResponseImpl response(Namespace, RequestVersion::parse(c.attribute));
        c.build(response);
        const std::string document = response.getResponse();
        EXPECT_EQ(opening(c.version) + c.body + "</quillmark>", document);
        EXPECT_TRUE(valid(document)) << document;
    }
}

// The bound counts the results held: a result that takes them past it is refused, reads and
// writes alike; one that reaches it exactly is kept.
TEST(XmlResponseImplTest, ResultsPastTheBoundAreRefused) {
    const std::uint64_t bound = InformationResult.size() + 2 * ClassifyResult.size();
    const std::unique_ptr<Response> response =
        ResponseFactoryImpl(Namespace, bound).create(RequestVersion::parse("1.01"));
    response->getInformation("i1", TwoClassInformation);
    response->classify("c&1", twoClasses());
    response->classify("c&1", twoClasses());
    EXPECT_EQ(
        "The answer would be larger than " + std::to_string(bound) +
            " bytes, the bound of this server (maxOutput); ask for fewer results in one request.",
        testing::messageOf<AnswerTooLargeException>([&] { response->train("t1"); }));
    XmlResponseImpl reads(Namespace, RequestVersion::parse("1.01"), ClassifyResult.size() - 1);
    EXPECT_THROW(reads.classify("c&1", twoClasses()), AnswerTooLargeException);
}

// The message stands between the status tags, escaped except for the apostrophe; a parse
// error's quoted source line (between "Error line: " and "System error message: ") is cut, and
// bytes that are no XML characters become question marks.
TEST(XmlErrorResponseImplTest, MessagesAreEscapedCutAndCleanedBetweenTheStatusTags) {
    const struct {
        int code;
        std::string message;
        std::string content;  // "" when it is the message unchanged
    } cases[] = {
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
        {statusCode::SERVER_ERROR, "System error message: x. Error line: y", ""},
        {statusCode::BAD_REQUEST,
         std::string("Error line: a\x01\x1f\tb\r\n") + "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +
             "\xc3 \xc0\x80 \xed\xa0\x80 \xef\xbf\xbe \xf4\x90\x80\x80 " + "\x80\xff" +
             std::string(1, '\0') + "\xe2\x82",
         std::string("Error line: a??\tb\r\n") + "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80 " +
             "? ?? ??? ??? ???? ?????"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string document =
            XmlErrorResponseImpl(Namespace, "1.00").getErrorResponse(c.code, c.message);
        EXPECT_TRUE(valid(document)) << document;
        EXPECT_EQ(opening("1.00") + "\t<status success=\"false\" statusCode=\"" +
                      std::to_string(c.code) + "\">" + (c.content.empty() ? c.message : c.content) +
                      "\t</status>\n</quillmark>",
                  document);
    }
    // Whatever the bytes of the message, the document is valid.
    std::string everyByte = "Error line: ";
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(255 - i);
    EXPECT_TRUE(valid(XmlErrorResponseImpl(Namespace, "1.00")
                          .getErrorResponse(statusCode::OUT_OF_MEMORY, everyByte)));
}

}  // namespace
}  // namespace norvale::quillmark
