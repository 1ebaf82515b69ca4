#pragma once

// Helpers shared by the XML layer's tests: the staged schema files and the namespaces of the
// documents the tests load.

#include <string>

#include "testing/MessageOf.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace xml::test {

inline const std::string RequestNamespace = "http://quillmark.invalid/1/server/RequestSchema";
inline const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";

inline std::string schemaPath(const std::string& relative) {
    return std::string(QM_SCHEMA_DIR) + "/" + relative;
}

// Loads a staged schema file and adds it to `cache` under its own target namespace, the way
// the server does at start-up. Returns the namespace.
inline std::string addSchema(SchemaCache& cache, const std::string& relative) {
    Document schema;
    schema.loadFromFile(schemaPath(relative));
    const std::string targetNamespace = schema.getTargetNamespace();
    cache.add(targetNamespace, schema);
    return targetNamespace;
}

using norvale::quillmark::testing::messageOf;

}  // namespace xml::test
