// The request schema's text id rules are left out of validation only when they are exactly the
// rules RequestTexts checks, and a request is then refused, with the validator's own report,
// exactly when full validation refuses it.
#include <gtest/gtest.h>

#include <string>

#include "server/RequestTexts.h"
#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark::test {
namespace {

TEST(RequestTextsTest, OnlyTheShippedTextIdRulesAreLeftOutOfValidation) {
    xml::Document file;
    file.loadFromFile(xml::test::schemaPath("server/RequestSchema.xsd"));
    const std::string shipped = file.getXml();
    const std::size_t keyref = shipped.find("<xs:keyref");
    const struct {
        const char* what;
        std::string from, to;
        bool covered;
    } rows[] = {
        {"as shipped", "", "", true},
        {"key without textBase64", " | qm:texts/qm:textBase64\"", "\"", false},
        {"key on another field", "xpath=\"@id\"", "xpath=\"@textId\"", false},
        {"qm rebound on the key", "<xs:key name=\"textIds\">",
         "<xs:key name=\"textIds\" xmlns:qm=\"urn:other\">", false},
        {"a third constraint", "</xs:keyref>",
         "</xs:keyref><xs:unique name=\"ids\"><xs:selector xpath=\"qm:readCalls/*\"/>"
         "<xs:field xpath=\"@id\"/></xs:unique>",
         false},
        {"no key reference", shipped.substr(keyref, shipped.find("</xs:keyref>") + 12 - keyref), "",
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = shipped;
        if (!row.from.empty()) {
            ASSERT_NE(text.find(row.from), std::string::npos);
            text.replace(text.find(row.from), row.from.size(), row.to);
        }
        xml::Document schema;
        schema.loadFromMemory(text);
        xml::SchemaCache cache;
        cache.add(RequestNamespace, schema);
        EXPECT_EQ(RequestTexts::coversConstraints(cache.identityConstraints(RequestNamespace),
                                                  RequestNamespace),
                  row.covered);
    }
}

class RequestTextsRefusalTest : public ExecutorFixture {};

TEST_F(RequestTextsRefusalTest, TextIdFaultsAreRefusedAsFullValidationRefusesThem) {
    const std::string classifyA = classify("c", "n", "a");
    const std::string encodedA = "<textBase64 id=\"a\">eA==</textBase64>";
    const struct {
        const char* what;
        std::string body;
        bool refused;
    } rows[] = {
        {"calls naming their texts",
         texts(text("a", "x") + "<textBase64 id=\"b\">eA==</textBase64>") +
             readCalls(classifyA +
                       call("classifyKeywords", "k", "classifierName=\"n\" textId=\"b\"")) +
             writeCalls("n", train("t", "k", "a")),
         false},
        {"no text calls", readCalls(getInformation("g", "n")), false},
        {"ids that differ in case", texts(text("a", "x") + text("A", "y")) + readCalls(classifyA),
         false},
        {"two texts of one id", texts(text("a", "x") + text("a", "y")) + readCalls(classifyA),
         true},
        {"a text and an encoded text of one id", texts(text("a", "x") + encodedA), true},
        {"one id in two texts elements", texts(text("a", "x")) + texts(encodedA), true},
        {"a read call naming no text", texts(text("b", "x")) + readCalls(classifyA), true},
        {"a write call naming no text",
         texts(text("a", "x")) +
             writeCalls("n", call("untrain", "u", "className=\"k\" textId=\"z\"")),
         true},
        {"a repeated id and a foreign element", texts(text("a", "x") + text("a", "y")) + "<bogus/>",
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        xml::Document document(&_strict);
        document.loadFromMemory(request(row.body));
        std::string report;
        try {
            document.validate();
        } catch (const xml::ValidateException& e) {
            report = e.what();
        }
        ASSERT_EQ(!report.empty(), row.refused);
        const std::string message = messageOf(run(row.body));
        EXPECT_EQ(message.starts_with("Validation"), row.refused) << message;
        if (row.refused) {
            EXPECT_EQ(message,
                      "Validation of an request failed, please verify your that your "
                      "XML is correct." +
                          report);
        }
    }
}

}  // namespace
}  // namespace norvale::quillmark::test
