#pragma once

// Test helper: checks a written document against the staged response schema with the XML layer
// the server uses (whose validation has tests of its own).

#include <gtest/gtest.h>

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

    void expectValid(const std::string& document) const {
        EXPECT_EQ("", layerFailure(document)) << document;
    }

private:
    xml::SchemaCache _cache;
    std::string _namespace;
    std::string _version;
};

}  // namespace norvale::quillmark::test
