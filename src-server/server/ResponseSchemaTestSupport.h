#pragma once

// Test helper (never linked into the product): checks a written document against the staged response schema with the XML layer
// the server uses (whose validation has tests of its own).

#include <string>

#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark::test {

class ResponseSchemaCheck {
public:
    ResponseSchemaCheck() { xml::test::addSchema(_cache, "server/ResponseSchema.xsd"); }

    bool valid(const std::string& document) const {
        try {
            xml::Document parsed(&_cache);
            parsed.loadFromMemory(document);
            parsed.validate();
            return true;
        } catch (const xml::XMLException&) {
            return false;
        }
    }

private:
    xml::SchemaCache _cache;
};

}  // namespace norvale::quillmark::test
