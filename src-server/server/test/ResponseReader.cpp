#include "server/test/ResponseReader.h"

#include <cstdint>

#include "util/NumberParser.h"
#include "xml/Document.h"

namespace norvale::quillmark::test {

namespace {

// The writer lays the status text out between tabs and line feeds; they are not part of the
// message.
std::string trimmed(const std::string& text) {
    const char* const space = " \t\r\n";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

ResponseReader::ResponseReader(const std::string& schemaFolder) {
    xml::Document schema;
    schema.loadFromFile(schemaFolder + ResponseSchemaName);
    _namespace = schema.getTargetNamespace();
    schema.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
    _schemaVersion = schema.selectExactlyOne("/xs:schema").getAttribute("version");
    _schemas.add(_namespace, schema);
}

ParsedResponse ResponseReader::read(const std::string& text) const {
    xml::Document document(&_schemas);
    document.setSelectionNamespaces("xmlns:qm='" + _namespace + "'");
    document.loadFromMemory(text);
    document.validate();

    ParsedResponse response;
    const xml::Element root = document.selectExactlyOne("/qm:quillmark");
    response.version = root.getAttribute("version");
    const xml::Element status = root.selectExactlyOne("qm:status");
    response.success = status.getBooleanAttribute("success");
    response.code = static_cast<int>(
        util::parseInteger(status.getAttribute("statusCode"), INT32_MIN, INT32_MAX));
    if (!response.success) response.errorMessage = trimmed(status.getText());

    const xml::NodeList calls = root.selectNodes("qm:readCalls/* | qm:writeCalls/*");
    for (std::size_t i = 0; i < calls.count(); ++i) {
        const xml::Element call = calls.item(i);
        response.responses.push_back({call.getTagName(), call.getAttribute("id")});
    }
    return response;
}

}  // namespace norvale::quillmark::test
