#include "server/ResponseDocument.h"

#include <cstdio>

#include "util/EscapeXml.h"

namespace norvale::quillmark::responseDocument {

std::string opening(std::string_view responseNamespace, std::string_view version) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<quillmark xmlns=\"";
    text += util::escapeXml(responseNamespace);
    text += "\" version=\"";
    text += util::escapeXml(version);
    text += "\">\n";
    return text;
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

}  // namespace norvale::quillmark::responseDocument
