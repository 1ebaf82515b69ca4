// Connection threads parse and validate requests at the same time against one schema cache;
// reports of one thread must never leak into another's.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/NodeList.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace xml {
namespace {

constexpr int Threads = 8;
constexpr int Rounds = 150;

std::string request(int thread, int round, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<quillmark xmlns=\"" +
           test::RequestNamespace + "\" version=\"" + version + "\">\n<texts><text id=\"t\">" +
           std::to_string(thread) + "</text></texts>\n<readCalls><classify id=\"" +
           std::to_string(round) +
           "\" classifierName=\"c\" textId=\"t\"/></readCalls>\n</quillmark>";
}

// Each round: a valid request (its own values read back), an invalid one (its own version in
// the report), a malformed one (its own line in the report).
void serve(const SchemaCache* cache, int thread, std::atomic<int>* failures) {
    ComInitializer com;
    Document document(cache);
    document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
    const std::string badVersion = std::to_string(thread + 2) + ".00";
    for (int round = 0; round < Rounds; ++round) {
        document.loadFromMemory(request(thread, round, "1.01"));
        document.validate();
        const Element root = document.selectExactlyOne("qm:quillmark");
        const Element call = root.selectExactlyOne("qm:readCalls").selectNodes("*").item(0);
        if (call.getAttribute("id") != std::to_string(round) ||
            root.selectExactlyOne("qm:texts/qm:text").getText() != std::to_string(thread)) {
            ++*failures;
        }

        document.loadFromMemory(request(thread, round, badVersion));
        try {
            document.validate();
            ++*failures;
        } catch (const ValidateException& e) {
            if (std::string(e.what()).find("'" + badVersion + "'") == std::string::npos) {
                ++*failures;
            }
        }

        const std::string marker = "<unclosed" + std::to_string(thread) + ">";
        try {
            document.loadFromMemory("<a>\n" + marker + "</a>");
            ++*failures;
        } catch (const DocumentException& e) {
            if (std::string(e.what()).find("Error line: " + marker) == std::string::npos) {
                ++*failures;
            }
        }
    }
}

TEST(ConcurrentValidationTest, EightThreadsShareOneSchemaCache) {
    SchemaCache cache;
    test::addSchema(cache, "server/RequestSchema.xsd");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < Threads; ++thread) {
        threads.emplace_back([&, thread] {
            try {
                serve(&cache, thread, &failures);
            } catch (const exceptions::Exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
}

}  // namespace
}  // namespace xml
