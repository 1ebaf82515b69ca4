// The staged schema files against the documents the server reads and writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

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

std::string request(const std::string& body) {
    return request("1.00", body);
}

std::string readClassify(const std::string& classifierName) {
    return request(
        "<texts><text id=\"t\">x</text></texts><readCalls><classify id=\"1\" "
        "classifierName=\"" +
        classifierName + "\" textId=\"t\"/></readCalls>\n");
}

// Exit status of `xmllint --schema` on `document`; 0 means valid.
int xmllint(const std::string& schema, const std::string& document) {
    test::TemporaryFolder folder;
    const std::string path = folder.write("document.xml", document);
    const std::string command =
        "xmllint --noout --nonet --schema '" + schema + "' '" + path + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SchemaFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        _requestNamespace = test::addSchema(_cache, "server/RequestSchema.xsd");
        _responseNamespace = test::addSchema(_cache, "server/ResponseSchema.xsd");
        _configNamespace = test::addSchema(_cache, "config/ConfigSchema.xsd");
    }

    void validate(const std::string& text) const {
        Document document(&_cache);
        document.loadFromMemory(text);
        document.validate();
    }

    std::string validationFailure(const std::string& text) const {
        return messageOf<ValidateException>([&] { validate(text); });
    }

    SchemaCache _cache;
    std::string _requestNamespace;
    std::string _responseNamespace;
    std::string _configNamespace;
};

TEST_F(SchemaFilesTest, DeclareTheProtocolNamespacesAndResponseVersion) {
    EXPECT_EQ(test::RequestNamespace, _requestNamespace);
    EXPECT_EQ(test::ResponseNamespace, _responseNamespace);
    EXPECT_EQ(test::ConfigNamespace, _configNamespace);

    Document response;
    response.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
    response.loadFromFile(test::schemaPath("server/ResponseSchema.xsd"));
    EXPECT_EQ("1.00", response.selectExactlyOne("xs:schema").getAttribute("version"));
}

TEST_F(SchemaFilesTest, RequestsOfEveryShapeValidate) {
    const std::vector<std::string> requests = {
        // Texts of both kinds in any order, every read call.
        request("<texts><textBase64 id=\"b\">aGVq</textBase64><text id=\"a\">hej</text>"
                "<text id=\"c\"/></texts>\n<readCalls>\n"
                "<classify id=\"1\" classifierName=\"spam\" textId=\"a\"/>\n"
                "<classifyKeywords id=\"2\" classifierName=\"Spam.v2\" textId=\"b\"/>\n"
                "<getInformation id=\"3\" classifierName=\"x\"/>\n</readCalls>\n"),
        // Every write call; writeCalls with only its classifier name.
        request("1.01",
                "<texts><text id=\"a\">hej</text></texts>\n<writeCalls classifierName=\"a-b_c\">"
                "<create id=\"1\"/><addClass id=\"2\" className=\"swe &amp; eng\"/>"
                "<train id=\"3\" className=\"swe\" textId=\"a\"/>"
                "<untrain id=\"4\" className=\"swe\" textId=\"a\"/>"
                "<removeClass id=\"5\" className=\"swe\"/><remove id=\"6\"/></writeCalls>\n"),
        // maxSize; write calls written before read calls; texts last.
        request("<writeCalls classifierName=\"w\" maxSize=\"1000\"><create id=\"1\"/></writeCalls>"
                "<readCalls><classify id=\"2\" classifierName=\"r\" textId=\"t\"/></readCalls>"
                "<texts><text id=\"t\">x</text></texts>"),
        // No texts at all; no call sequence at all (answered with the no-calls document).
        request("<readCalls><getInformation id=\"1\" classifierName=\"r\"/></readCalls>"),
        request(""),
        request("1.010", "<texts/>"),
        // The self test's functional requests, as its builder writes them.
        request(
            "1.01",
            "<texts><textBase64 id=\"sweText\">aGVqIGhvcHAgZGV0dGEg5HIgZW4gdGV4dA==</textBase64>"
            "<textBase64 id=\"engText\">aGkgdGhpcw==</textBase64></texts><writeCalls "
            "classifierName=\"test_engswe\"><create id=\"call_1\"/><addClass id=\"call_2\" "
            "className=\"swe\"/><addClass id=\"call_3\" className=\"eng\"/><train "
            "id=\"call_4\" className=\"swe\" textId=\"sweText\"/><train id=\"call_5\" "
            "className=\"eng\" textId=\"engText\"/></writeCalls>"),
        request("<texts><textBase64 id=\"textId1\">NiAxIDIgMw==</textBase64><textBase64 "
                "id=\"textId2\">ZSBqIGsgYQ==</textBase64></texts><readCalls><classify id=\"c1\" "
                "classifierName=\"stresstest_cls1\" textId=\"textId1\"/><classify id=\"c2\" "
                "classifierName=\"stresstest_cls2\" textId=\"textId2\"/></readCalls>"),
        request("<texts/><writeCalls classifierName=\"stresstest_cls2\"><remove "
                "id=\"r\"/></writeCalls>"),
        readClassify(std::string(100, 'n')),
    };
    for (const std::string& text : requests) {
        EXPECT_NO_THROW(validate(text)) << text;
        EXPECT_EQ(0, xmllint(test::schemaPath("server/RequestSchema.xsd"), text)) << text;
    }
}

TEST_F(SchemaFilesTest, RequestsOutsideTheProtocolFail) {
    const std::vector<std::string> requests = {
        request("2.00", "<readCalls><getInformation id=\"1\" classifierName=\"r\"/></readCalls>"),
        request("1.02", ""),
        request("one", ""),
        // Call elements of another namespace, unknown calls, missing attributes.
        request("<readCalls><x:classify xmlns:x=\"urn:other\" id=\"1\" classifierName=\"r\" "
                "textId=\"t\"/></readCalls><texts><text id=\"t\">x</text></texts>"),
        request("<readCalls><delete id=\"1\" classifierName=\"r\"/></readCalls>"),
        request("<readCalls><create id=\"1\"/></readCalls>"),
        request("<readCalls><getInformation id=\"1\"/></readCalls>"),
        request("<writeCalls><create id=\"1\"/></writeCalls>"),
        request("<writeCalls classifierName=\"w\" maxSize=\"big\"><create id=\"1\"/></writeCalls>"),
        // Empty sequences: the self test expects "no calls" requests to be bad requests.
        request("<texts><text id=\"t\">hejsan</text></texts><readCalls/>"),
        request("<writeCalls classifierName=\"w\"></writeCalls>"),
        // Text references: missing, and ambiguous ids.
        request("<readCalls><classify id=\"1\" classifierName=\"r\" textId=\"t\"/></readCalls>"),
        request("<texts><text id=\"t\">a</text><textBase64 id=\"t\">YQ==</textBase64></texts>"
                "<readCalls><classify id=\"1\" classifierName=\"r\" textId=\"t\"/></readCalls>"),
        request("<readCalls/><readCalls/>"),
        // Classifier names that would leave the classifier folder or are not names at all.
        readClassify("../x"),
        readClassify("a/b"),
        readClassify("a\\b"),
        readClassify(".hidden"),
        readClassify(""),
        readClassify("a b"),
        readClassify(std::string(101, 'n')),
        "<quillmark xmlns=\"" + test::RequestNamespace + "\"/>",
    };
    for (const std::string& text : requests) {
        const std::string message = validationFailure(text);
        EXPECT_EQ(0u, message.find("Problems validating the xml document.\r\nError Code: "))
            << text << "\n"
            << message;
        EXPECT_EQ(3, xmllint(test::schemaPath("server/RequestSchema.xsd"), text)) << text;
    }
}

TEST_F(SchemaFilesTest, ValidationFailureNamesTheElementAndLine) {
    const std::string text =
        request("2.00", "<readCalls><getInformation id=\"1\" classifierName=\"r\"/></readCalls>");
    EXPECT_EQ(
        "Problems validating the xml document.\r\n"
        "Error Code: 1840\nLine: 2\nRow: N/A\n"
        "Description: Element '{http://quillmark.invalid/1/server/RequestSchema}quillmark', "
        "attribute 'version': [facet 'enumeration'] The value '2.00' is not an element of the "
        "set {'1.0', '1.01'}.\n"
        "Error line: <quillmark xmlns=\"http://quillmark.invalid/1/server/RequestSchema\" "
        "version=\"2.00\">\n",
        validationFailure(text));
}

// A call element prefixed with a prefix of the request namespace is the same element to a
// validator; the server refuses it by its tag name ("not supported").
TEST_F(SchemaFilesTest, PrefixedCallsInTheRequestNamespaceReachTheServer) {
    Document document(&_cache);
    document.setSelectionNamespaces("xmlns:qm='" + test::RequestNamespace + "'");
    document.loadFromMemory(
        request("<readCalls xmlns:p=\"" + test::RequestNamespace +
                "\"><p:getInformation id=\"1\" classifierName=\"r\"/></readCalls>"));
    document.validate();
    const Element call =
        document.selectExactlyOne("qm:quillmark").selectExactlyOne("qm:readCalls/*");
    EXPECT_EQ("p:getInformation", call.getTagName());
}

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";

std::string responseStart(const std::string& version) {
    return Declaration + "<quillmark xmlns=\"" + test::ResponseNamespace + "\" version=\"" +
           version + "\">\n";
}

TEST_F(SchemaFilesTest, ResponseDocumentsValidate) {
    const std::string success =
        responseStart("1.01") +
        "\t<status success=\"true\" statusCode=\"2000\"/>\n"
        "\t<readCalls>\n"
        "\t<classify id=\"c1\">\n"
        "\t\t<classification textCoverage=\"0.75\">\n"
        "\t\t\t<class className=\"eng\" p=\"0.25\"/>\n"
        "\t\t\t<class className=\"s&amp;w&lt;e\" p=\"7.5e-05\"/>\n"
        "\t\t</classification>\n"
        "\t</classify>\n"
        "\t<classifyKeywords id=\"c2\">\n"
        "\t\t<keywords>\n"
        "\t\t\t<keyword className=\"swe\" p=\"0.9\">svenska</keyword>\n"
        "\t\t\t<keyword className=\"eng\" p=\"1\">&quot;english&quot; it's</keyword>\n"
        "\t\t</keywords>\n"
        "\t</classifyKeywords>\n"
        "\t\t<getInformation id=\"c3\">\n"
        "\t\t\t<classes>\n"
        "\t\t\t\t<classInformation className=\"swe\">\n"
        "\t\t\t\t\t<uniqueFeatures>12</uniqueFeatures>\n"
        "\t\t\t\t\t<totalCount>40</totalCount>\n"
        "\t\t\t\t</classInformation>\n"
        "\t\t\t</classes>\n"
        "\t\t</getInformation>\n"
        "\t</readCalls>\n"
        "\t<writeCalls>\n"
        "\t\t<create id=\"w1\"/>\n"
        "\t\t<addClass id=\"w2\"/>\n"
        "\t\t<removeClass id=\"w3\"/>\n"
        "\t\t<train id=\"w4\"/>\n"
        "\t\t<untrain id=\"w5\"/>\n"
        "\t\t<remove id=\"w6\"/>\n"
        "\t</writeCalls>\n"
        "</quillmark>";
    const std::string writesOnly = responseStart("1.00") +
                                   "\t<status success=\"true\" statusCode=\"2000\"/>\n"
                                   "\t<writeCalls>\n\t\t<create id=\"call_1\"/>\n"
                                   "\t</writeCalls>\n</quillmark>";
    const std::string noCalls = responseStart("1.00") +
                                "\t<status success=\"false\" statusCode=\"5000\">No calls were "
                                "found in the response.</status>\n</quillmark>";
    const std::string error =
        responseStart("1.00") +
        "\t<status success=\"false\" statusCode=\"4000\">The requested classifier could not be "
        "found. './classifiers//x.dat'.\nCall id: 1\nReadCall: classify\n\nOne of the read "
        "calls failed. Therefore the call sequence was not completed. Please fix the error and "
        "try again.\n\t</status>\n</quillmark>";
    for (const std::string& text : {success, writesOnly, noCalls, error}) {
        EXPECT_NO_THROW(validate(text)) << text;
        EXPECT_EQ(0, xmllint(test::schemaPath("server/ResponseSchema.xsd"), text)) << text;
    }
}

TEST_F(SchemaFilesTest, MalformedResponsesFail) {
    const std::string status = "\t<status success=\"true\" statusCode=\"2000\"/>\n";
    const std::vector<std::string> responses = {
        responseStart("1.00") + "</quillmark>",
        Declaration + "<quillmark xmlns=\"" + test::ResponseNamespace + "\">\n" + status +
            "</quillmark>",
        responseStart("1.00") + "\t<status success=\"maybe\" statusCode=\"2000\"/>\n</quillmark>",
        responseStart("1.00") + status + "\t<readCalls>\n\t</readCalls>\n</quillmark>",
        responseStart("1.00") + status +
            "\t<readCalls><classify id=\"1\"><classification/></classify></readCalls>\n"
            "</quillmark>",
        responseStart("1.00") + status +
            "\t<readCalls><classify id=\"1\"><classification><class className=\"a\" "
            "p=\"nan\"/></classification></classify></readCalls>\n</quillmark>",
        responseStart("1.00") + status +
            "\t<writeCalls><train/></writeCalls>\n<readCalls/></quillmark>",
    };
    for (const std::string& text : responses) {
        EXPECT_THROW(validate(text), ValidateException) << text;
        EXPECT_EQ(3, xmllint(test::schemaPath("server/ResponseSchema.xsd"), text)) << text;
    }
}

std::string config(const std::string& settings) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<quillmark xmlns=\"" +
           test::ConfigNamespace + "\">\n" + settings + "</quillmark>\n";
}

TEST_F(SchemaFilesTest, ConfigurationNeedsEveryElementOnceInOrder) {
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"port", "8080"},          {"maxInput", "1000000"},    {"maxClients", "20"},
        {"clientQueueSize", "10"}, {"classifierRootPath", ""}, {"logLevel", "ERROR"},
        {"logMemory", "True"},     {"saveRequests", "0"},
    };
    auto build = [&](auto&& skip) {
        std::string body;
        for (const auto& [name, value] : settings) {
            if (!skip(name)) body += "<" + name + ">" + value + "</" + name + ">\n";
        }
        return body;
    };
    const std::string complete = config(build([](const std::string&) { return false; }));
    EXPECT_NO_THROW(validate(complete));
    EXPECT_EQ(0, xmllint(test::schemaPath("config/ConfigSchema.xsd"), complete));

    // Values out of range reach the server, which names them in its own messages.
    EXPECT_NO_THROW(validate(
        config("<port>70000</port><maxInput>-1</maxInput><maxClients>8080a</maxClients>"
               "<clientQueueSize/><classifierRootPath>/srv</classifierRootPath><logLevel>warning"
               "</logLevel><logMemory>yes</logMemory><saveRequests></saveRequests>")));

    for (const auto& [missing, value] : settings) {
        EXPECT_THROW(
            validate(config(build([&](const std::string& name) { return name == missing; }))),
            ValidateException)
            << missing;
    }
    EXPECT_THROW(validate(config("<maxInput>1</maxInput>" + build([](const std::string& name) {
                                     return name == "maxInput";
                                 }))),
                 ValidateException);
    EXPECT_THROW(validate(config(build([](const std::string&) { return false; }) +
                                 "<saveRequests>1</saveRequests>")),
                 ValidateException);
}

}  // namespace
}  // namespace xml
