// The staged request schema against the requests the server reads, alone and by many threads.
// Class names, text references and the versions the server accepts are checked through the
// server's own validation (XmlClassifierTest, RequestTextsTest), a request without calls in
// RequestShapeTest.
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

std::string request(const std::string& body, const std::string& version = "1.00") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<quillmark xmlns=\"" +
           test::RequestNamespace + "\" version=\"" + version + "\">\n" + body + "</quillmark>";
}

// The whole report on a request of an unknown version.
std::string versionRefused(const std::string& version) {
    return "Problems validating the xml document.\r\nError Code: 1840\nLine: 2\nRow: N/A\n"
           "Description: Element '{" +
           test::RequestNamespace +
           "}quillmark', attribute 'version': "
           "[facet 'enumeration'] The value '" +
           version +
           "' is not an element of the set "
           "{'1.0', '1.01'}.\nError line: <quillmark xmlns=\"" +
           test::RequestNamespace + "\" version=\"" + version + "\">\n";
}

// Connection threads parse and validate requests at the same time against one schema cache;
// reports of one thread must never leak into another's. Each round: a valid request (its own
// values read back; calls may come in any order, texts last), an invalid one (its own version in
// the whole report), a refused shape of the table and a malformed one (its own line in the report).
TEST(SchemaFilesTest, EightThreadsValidateAgainstOneCache) {
    const std::string refusedShapes[] = {
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
        "<quillmark xmlns=\"" + test::RequestNamespace + "\"/>",
    };
    // The three staged schemas in one cache, as the server loads them.
    SchemaCache cache;
    for (const char* schema :
         {"server/RequestSchema.xsd", "server/ResponseSchema.xsd", "config/ConfigSchema.xsd"}) {
        test::addSchema(cache, schema);
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread) {
        threads.emplace_back([&, thread] {
            ComInitializer com;
            Document document(&cache);
            document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
            const auto refusal = [&] {
                return messageOf<ValidateException>([&] { document.validate(); });
            };
            const std::string own = std::to_string(thread), marker = "<unclosed" + own + ">";
            for (int round = 0; round < 150; ++round) {
                const std::string id = std::to_string(round);
                const std::string body =
                    "<writeCalls classifierName=\"w\" maxSize=\"1000\"><create id=\"0\"/>"
                    "</writeCalls><readCalls><classify id=\"" +
                    id +
                    "\" classifierName=\"c\" "
                    "textId=\"t\"/></readCalls>\n<texts><text id=\"t\">" +
                    own + "</text></texts>\n";
                document.loadFromMemory(request(body, "1.01"));
                document.validate();
                const bool read =
                    document.selectExactlyOne("qm:quillmark/qm:readCalls/qm:classify")
                            .getAttribute("id") == id &&
                    document.selectExactlyOne("qm:quillmark/qm:texts/qm:text").getText() == own;
                document.loadFromMemory(request(body, own + "2.00"));
                const bool invalid = refusal() == versionRefused(own + "2.00");
                document.loadFromMemory(refusedShapes[round % std::size(refusedShapes)]);
                const bool shape =
                    refusal().find("Problems validating the xml document.\r\nError Code: ") == 0;
                const bool malformed = messageOf<DocumentException>([&] {
                                           document.loadFromMemory("<a>\n" + marker + "</a>");
                                       }).find("Error line: " + marker) != std::string::npos;
                if (!(read && invalid && shape && malformed)) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
}

}  // namespace
}  // namespace xml
