#pragma once

// Reads the server's answers for the self test: every answer is loaded, validated against the
// response schema and reduced to the few facts the test cases check. One reader per client
// thread; the schema is compiled once per reader.

#include <string>
#include <vector>

#include "xml/SchemaCache.h"

namespace norvale::quillmark::test {

// One result element of a readCalls or writeCalls sequence.
struct CallResponse {
    std::string name;  // the tag, e.g. "classify"
    std::string id;
};

struct ParsedResponse {
    bool success = false;
    int code = 0;
    std::string errorMessage;  // the status text of an unsuccessful answer, white space trimmed
    std::string version;
    std::vector<CallResponse> responses;
};

class ResponseReader {
public:
    static constexpr const char* ResponseSchemaName = "ResponseSchema.xsd";

    // `schemaFolder` ends with "/". Throws the XML layer's exceptions when the schema cannot be
    // loaded or compiled.
    explicit ResponseReader(const std::string& schemaFolder);

    // Throws the XML layer's exceptions for a text that is no valid response document.
    ParsedResponse read(const std::string& text) const;

    // The version the response schema declares: error documents carry it, whatever version
    // the request had.
    const std::string& schemaVersion() const { return _schemaVersion; }

private:
    xml::SchemaCache _schemas;
    std::string _namespace;
    std::string _schemaVersion;
};

}  // namespace norvale::quillmark::test
