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
#include "server/ResponseSchemaCheck.h"

namespace norvale::quillmark {
namespace {

using classifier::Classification;
using classifier::ClassInformation;
using classifier::Keyword;
using classifier::KeywordQueue;

const std::string Namespace = "http://quillmark.invalid/1/server/ResponseSchema";
const RequestVersion Version101 = RequestVersion::parse("1.01");
const RequestVersion Version100 = RequestVersion::parse("1.00");

std::string opening(const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
           "<quillmark xmlns=\"http://quillmark.invalid/1/server/ResponseSchema\" version=\"" +
           version + "\">\n";
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

// Offered as 0.5, 0.9, 0.3, 0.7, the heap stores them as 0.3, 0.7, 0.5, 0.9.
KeywordQueue fourKeywords() {
    KeywordQueue queue(30, 0.0);
    for (const auto& [token, p, className] : {std::tuple{"cheap", 0.5, "spam"}, {"meeting", 0.9, "Ham & <eggs>"},
                                              {"a&b<c>", 0.3, "spam"}, {"\xc3\xa9t\xc3\xa9", 0.7, "spam"}}) {
        queue.offer(Keyword(token, std::char_traits<char>::length(token), p, 1, className));
    }
    return queue;
}

std::vector<ClassInformation> twoClassInformation() {
    return {ClassInformation("Ham & <eggs>", 12, 4294967295u), ClassInformation("spam", 0, 0)};
}

const std::string ClassifyResult101 =
    "\t<classify id=\"c&amp;1\">\n"
    "\t\t<classification textCoverage=\"0.75\">\n"
    "\t\t\t<class className=\"Ham &amp; &lt;eggs&gt;\" p=\"6.40511e-05\"/>\n"
    "\t\t\t<class className=\"spam\" p=\"0.999359\"/>\n"
    "\t\t</classification>\n"
    "\t</classify>\n";

const std::string KeywordsResult =
    "\t<classifyKeywords id=\"k1\">\n"
    "\t\t<keywords>\n"
    "\t\t\t<keyword className=\"spam\" p=\"0.3\">a&amp;b&lt;c&gt;</keyword>\n"
    "\t\t\t<keyword className=\"spam\" p=\"0.7\">\xc3\xa9t\xc3\xa9</keyword>\n"
    "\t\t\t<keyword className=\"spam\" p=\"0.5\">cheap</keyword>\n"
    "\t\t\t<keyword className=\"Ham &amp; &lt;eggs&gt;\" p=\"0.9\">meeting</keyword>\n"
    "\t\t</keywords>\n"
    "\t</classifyKeywords>\n";

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
    "\t\t<create id=\"w1\"/>\n"
    "\t\t<addClass id=\"w2\"/>\n"
    "\t\t<train id=\"w3\"/>\n"
    "\t\t<untrain id=\"w4\"/>\n"
    "\t\t<removeClass id=\"w5\"/>\n"
    "\t\t<remove id=\"&quot;w6&quot;\"/>\n";

void reportAllWriteResults(Response& response) {
    response.create("w1");
    response.addClass("w2");
    response.train("w3");
    response.untrain("w4");
    response.removeClass("w5");
    response.remove("\"w6\"");
}

class XmlResponseImplTest : public ::testing::Test {
protected:
    // Every document a test builds is also checked against the response schema.
    std::string written(const Response& response) const {
        const std::string document = response.getResponse();
        _schema.expectValid(document);
        return document;
    }

    test::ResponseSchemaCheck _schema;
};

// The read section precedes the write section whatever the order of the results; a section
// appears only with results; without any the document says so. Version 1.00 has no coverage.
TEST_F(XmlResponseImplTest, DocumentsOfEachShapeByteForByte) {
    const KeywordQueue keywords = fourKeywords();
    const std::string success = "\t<status success=\"true\" statusCode=\"2000\"/>\n";
    const std::string noCalls =
        "\t<status success=\"false\" statusCode=\"5000\">No calls were found in the response.</status>\n";
    const auto classify = [](Response& r) { r.classify("c&1", twoClasses()); };
    const struct {
        const char* what;
        const RequestVersion& version;
        std::function<void(Response&)> build;
        std::string body;
    } cases[] = {
        {"every result", Version101,
         [&](Response& r) {
             reportAllWriteResults(r);
             classify(r);
             r.classifyKeywords("k1", keywords);
             r.getInformation("i1", twoClassInformation());
         },
         success + "\t<readCalls>\n" + ClassifyResult101 + KeywordsResult + InformationResult +
             "\t</readCalls>\n\t<writeCalls>\n" + WriteResults + "\t</writeCalls>\n"},
        {"no text coverage", Version100, classify,
         success + "\t<readCalls>\n" +
             std::string(ClassifyResult101).erase(ClassifyResult101.find(" textCoverage=\"0.75\""), 20) +
             "\t</readCalls>\n"},
        {"writes only", Version100, reportAllWriteResults,
         success + "\t<writeCalls>\n" + WriteResults + "\t</writeCalls>\n"},
        {"empty results", Version101,
         [](Response& r) {
             r.classifyKeywords("k", KeywordQueue(30, 0.6));
             r.getInformation("i", {});
         },
         success + "\t<readCalls>\n\t<classifyKeywords id=\"k\">\n\t\t<keywords>\n\t\t</keywords>\n"
                   "\t</classifyKeywords>\n\t\t<getInformation id=\"i\">\n\t\t\t<classes>\n"
                   "\t\t\t</classes>\n\t\t</getInformation>\n\t</readCalls>\n"},
        {"no calls", Version101, [](Response&) {}, noCalls},
        {"no calls 1.00", Version100, [](Response&) {}, noCalls},
        {"cleared", Version101,
         [&](Response& r) {
             classify(r);
             reportAllWriteResults(r);
             r.clear();
         },
         noCalls},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XmlResponseImpl response(Namespace, c.version);
        c.build(response);
        EXPECT_EQ(opening(c.version.getText()) + c.body + "</quillmark>", written(response));
    }
}

// Keywords are raw text bytes cut to a feature's length: a Base64 text may carry any byte, and
// the cut may fall inside a multi-byte character. The document must stay well-formed.
TEST_F(XmlResponseImplTest, KeywordBytesThatAreNoXmlCharactersBecomeQuestionMarks) {
    std::string twoByteWord = "x";
    for (int i = 0; i < 14; ++i) twoByteWord += "\xc3\xa4";
    const std::string cutWord = twoByteWord + "\xc3";
    const std::string binaryWord = "cheap\xffpills\x01";
    KeywordQueue queue(30, 0.0);
    queue.offer(Keyword(cutWord.data(), cutWord.size(), 0.5, 1, "spam"));
    queue.offer(Keyword(binaryWord.data(), binaryWord.size(), 0.4, 1, "spam"));
    XmlResponseImpl response(Namespace, Version100);
    response.classifyKeywords("k", queue);
    const std::string document = written(response);
    EXPECT_NE(std::string::npos, document.find(">" + twoByteWord + "?</keyword>")) << document;
    EXPECT_NE(std::string::npos, document.find(">cheap?pills?</keyword>")) << document;
}

// The bound counts the results held: a result that takes them past it is refused, reads and
// writes alike; one that reaches it exactly is kept.
TEST_F(XmlResponseImplTest, ResultsPastTheBoundAreRefused) {
    const std::uint64_t bound = InformationResult.size() + 2 * ClassifyResult101.size();
    const ResponseFactoryImpl factory(Namespace, bound);
    const std::unique_ptr<Response> response = factory.create(Version101);
    response->getInformation("i1", twoClassInformation());
    response->classify("c&1", twoClasses());
    response->classify("c&1", twoClasses());
    const std::string message = "The answer would be larger than " + std::to_string(bound) +
                                " bytes, the bound of this server (maxOutput); ask for fewer "
                                "results in one request.";
    try {
        response->train("t1");
        ADD_FAILURE() << "no refusal";
    } catch (const AnswerTooLargeException& e) {
        EXPECT_EQ(message, e.what());
    }
    XmlResponseImpl reads(Namespace, Version101, ClassifyResult101.size() - 1);
    EXPECT_THROW(reads.classify("c&1", twoClasses()), AnswerTooLargeException);
}

}  // namespace
}  // namespace norvale::quillmark
