// The staged request schema against the requests the server reads, alone and by many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace xml {
namespace {

using test::messageOf;

std::string request(const std::string& version, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<quillmark xmlns=\"" +
           test::RequestNamespace + "\" version=\"" + version + "\">\n" + body + "</quillmark>";
}

std::string request(const std::string& body) { return request("1.00", body); }

std::string readClassify(const std::string& classifierName) {
    return request("<texts><text id=\"t\">x</text></texts><readCalls><classify id=\"1\" "
                   "classifierName=\"" + classifierName + "\" textId=\"t\"/></readCalls>\n");
}

// The three staged schemas in one cache, as the server loads them; the valid documents pass, the
// invalid ones fail with a located report.
class SchemaFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* schema :
             {"server/RequestSchema.xsd", "server/ResponseSchema.xsd", "config/ConfigSchema.xsd"}) {
            test::addSchema(_cache, schema);
        }
    }
    void validate(const std::string& text) const {
        Document document(&_cache);
        document.loadFromMemory(text);
        document.validate();
    }
    void expectValid(const std::vector<std::string>& valid,
                     const std::vector<std::string>& invalid) const {
        for (const std::string& text : valid) EXPECT_NO_THROW(validate(text)) << text;
        for (const std::string& text : invalid) {
            EXPECT_EQ(0u, messageOf<ValidateException>([&] { validate(text); })
                              .find("Problems validating the xml document.\r\nError Code: "))
                << text;
        }
    }
    SchemaCache _cache;
};

TEST_F(SchemaFilesTest, Requests) {
    expectValid(
        {
            // Texts of both kinds in any order, every read call.
            request("<texts><textBase64 id=\"b\">aGVq</textBase64><text id=\"a\">hej</text>"
                    "<text id=\"c\"/></texts>\n<readCalls>\n"
                    "<classify id=\"1\" classifierName=\"spam\" textId=\"a\"/>\n"
                    "<classifyKeywords id=\"2\" classifierName=\"Spam.v2\" textId=\"b\"/>\n"
                    "<getInformation id=\"3\" classifierName=\"x\"/>\n</readCalls>\n"),
            // Every write call.
            request("1.01",
                    "<texts><text id=\"a\">hej</text></texts>\n<writeCalls classifierName=\"a-b_c\">"
                    "<create id=\"1\"/><addClass id=\"2\" className=\"swe &amp; eng\"/>"
                    "<train id=\"3\" className=\"swe\" textId=\"a\"/>"
                    "<untrain id=\"4\" className=\"swe\" textId=\"a\"/>"
                    "<removeClass id=\"5\" className=\"swe\"/><remove id=\"6\"/></writeCalls>\n"),
            // maxSize; write calls before read calls; texts last.
            request("<writeCalls classifierName=\"w\" maxSize=\"1000\"><create id=\"1\"/></writeCalls>"
                    "<readCalls><classify id=\"2\" classifierName=\"r\" textId=\"t\"/></readCalls>"
                    "<texts><text id=\"t\">x</text></texts>"),
            // No call sequence at all (answered with the no-calls document).
            request(""),
            request("1.010", "<texts/>"),
            readClassify(std::string(100, 'n')),
        },
        {
            request("2.00", ""),
            // Call elements of another namespace, unknown calls, missing attributes.
            request("<readCalls><x:classify xmlns:x=\"urn:other\" id=\"1\" classifierName=\"r\" "
                    "textId=\"t\"/></readCalls><texts><text id=\"t\">x</text></texts>"),
            request("<readCalls><delete id=\"1\" classifierName=\"r\"/></readCalls>"),
            request("<readCalls><getInformation id=\"1\"/></readCalls>"),
            request("<writeCalls><create id=\"1\"/></writeCalls>"),
            request("<writeCalls classifierName=\"w\" maxSize=\"big\"><create id=\"1\"/></writeCalls>"),
            // Empty sequences are bad requests.
            request("<texts><text id=\"t\">hejsan</text></texts><readCalls/>"),
            request("<writeCalls classifierName=\"w\"></writeCalls>"),
            // Text references: missing, and ambiguous ids.
            request("<readCalls><classify id=\"1\" classifierName=\"r\" textId=\"t\"/></readCalls>"),
            request("<texts><text id=\"t\">a</text><textBase64 id=\"t\">YQ==</textBase64></texts>"
                    "<readCalls><classify id=\"1\" classifierName=\"r\" textId=\"t\"/></readCalls>"),
            // Classifier names that would leave the classifier folder or are not names at all.
            readClassify("../x"),
            readClassify("a/b"),
            readClassify(".hidden"),
            readClassify(""),
            readClassify(std::string(101, 'n')),
            "<quillmark xmlns=\"" + test::RequestNamespace + "\"/>",
        });

    EXPECT_EQ(
        "Problems validating the xml document.\r\n"
        "Error Code: 1840\nLine: 2\nRow: N/A\n"
        "Description: Element '{http://quillmark.invalid/1/server/RequestSchema}quillmark', "
        "attribute 'version': [facet 'enumeration'] The value '2.00' is not an element of the "
        "set {'1.0', '1.01'}.\n"
        "Error line: <quillmark xmlns=\"http://quillmark.invalid/1/server/RequestSchema\" "
        "version=\"2.00\">\n",
        messageOf<ValidateException>([&] { validate(request("2.00", "<texts/>")); }));
}

// Responses are checked against their schema wherever the server's answers are tested, the
// configuration where the server reads it (ConfigurationFileTest).

// Connection threads parse and validate requests at the same time against one schema cache;
// reports of one thread must never leak into another's. Each round: a valid request (its own
// values read back), an invalid one (its own version in the report), a malformed one (its own
// line in the report).
TEST_F(SchemaFilesTest, EightThreadsValidateAgainstOneCache) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread) {
        threads.emplace_back([&, thread] {
            ComInitializer com;
            Document document(&_cache);
            document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
            const std::string own = std::to_string(thread), badVersion = own + "2.00";
            const std::string marker = "<unclosed" + own + ">";
            for (int round = 0; round < 150; ++round) {
                const std::string body = "<texts><text id=\"t\">" + own +
                                         "</text></texts>\n<readCalls><classify id=\"" +
                                         std::to_string(round) +
                                         "\" classifierName=\"c\" textId=\"t\"/></readCalls>\n";
                document.loadFromMemory(request("1.01", body));
                document.validate();
                const bool read =
                    document.selectExactlyOne("qm:quillmark/qm:readCalls/qm:classify")
                            .getAttribute("id") == std::to_string(round) &&
                    document.selectExactlyOne("qm:quillmark/qm:texts/qm:text").getText() == own;
                document.loadFromMemory(request(badVersion, body));
                const bool invalid = messageOf<ValidateException>([&] { document.validate(); })
                                         .find("'" + badVersion + "'") != std::string::npos;
                const bool malformed = messageOf<DocumentException>([&] {
                                           document.loadFromMemory("<a>\n" + marker + "</a>");
                                       }).find("Error line: " + marker) != std::string::npos;
                if (!(read && invalid && malformed)) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
}

}  // namespace
}  // namespace xml
