#pragma once

// Helpers shared by the XML layer's tests: the staged schema files, a private temporary folder,
// and the request and response documents the tests load.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace xml::test {

inline const std::string RequestNamespace = "http://quillmark.invalid/1/server/RequestSchema";
inline const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";
inline const std::string ConfigNamespace = "http://quillmark.invalid/1/config/ConfigSchema";

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

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qm_xml_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        _path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }

    std::string write(const std::string& name, const std::string& content) const {
        const std::string path = (_path / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    const std::filesystem::path& path() const { return _path; }

private:
    std::filesystem::path _path;
};

// Runs `body`, which must throw E, and returns the message.
template <typename E, typename Body>
std::string messageOf(Body body) {
    try {
        body();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "the expected exception was not thrown";
    return "";
}

}  // namespace xml::test
