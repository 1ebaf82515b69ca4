#pragma once

// Test helper: checks a written document against the staged response schema twice, with the
// XML layer the server uses and with the independent xmllint program.

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark::test {

class ResponseSchemaCheck {
public:
    ResponseSchemaCheck() {
        _namespace = xml::test::addSchema(_cache, "server/ResponseSchema.xsd");
        xml::Document schema;
        schema.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
        schema.loadFromFile(xml::test::schemaPath("server/ResponseSchema.xsd"));
        _version = schema.selectExactlyOne("xs:schema").getAttribute("version");
    }

    const std::string& responseNamespace() const { return _namespace; }
    const std::string& schemaVersion() const { return _version; }

    // Empty when the XML layer accepts `document`, its failure text otherwise.
    std::string layerFailure(const std::string& document) const {
        try {
            xml::Document parsed(&_cache);
            parsed.loadFromMemory(document);
            parsed.validate();
        } catch (const xml::XMLException& e) {
            return e.what();
        }
        return "";
    }

    // Empty when xmllint accepts `document`, its report otherwise.
    std::string xmllintFailure(const std::string& document) const {
        xml::test::TemporaryFolder folder;
        const std::string path = folder.write("response.xml", document);
        const std::string command = "xmllint --noout --nonet --schema '" +
                                    xml::test::schemaPath("server/ResponseSchema.xsd") + "' '" +
                                    path + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return "popen failed";
        std::string output;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        const int status = ::pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
        return "xmllint status " + std::to_string(status) + ": " + output;
    }

    void expectValid(const std::string& document) const {
        EXPECT_EQ("", layerFailure(document)) << document;
        EXPECT_EQ("", xmllintFailure(document)) << document;
    }

private:
    xml::SchemaCache _cache;
    std::string _namespace;
    std::string _version;
};

}  // namespace norvale::quillmark::test
