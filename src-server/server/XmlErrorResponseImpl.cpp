#include "server/XmlErrorResponseImpl.h"

#include <string_view>
#include <utility>

#include "server/ResponseDocument.h"
#include "util/EscapeXml.h"

namespace norvale::quillmark {

namespace {

// Parse-error reports quote the offending source line between these two labels; the client
// gets the report without that line, since the request is its own.
std::string withoutSourceLine(std::string message) {
    constexpr std::string_view ErrorLine = "Error line";
    constexpr std::string_view SystemError = "System error";
    const std::size_t cutStart = message.find(ErrorLine);
    if (cutStart == std::string::npos) return message;
    const std::size_t cutEnd = message.find(SystemError, cutStart);
    if (cutEnd == std::string::npos) return message;
    message.erase(cutStart, cutEnd - cutStart);
    return message;
}

}  // namespace

XmlErrorResponseImpl::XmlErrorResponseImpl(std::string responseNamespace, std::string version)
    : _namespace(std::move(responseNamespace)), _version(std::move(version)) {}

std::string XmlErrorResponseImpl::getErrorResponse(int statusCode,
                                                   const std::string& message) const {
    std::string document = responseDocument::opening(_namespace, _version);
    document += "\t<status success=\"false\" statusCode=\"";
    document += std::to_string(statusCode);
    document += "\">";
    document += responseDocument::xmlCharacters(withoutSourceLine(util::escapeXml(message)));
    document += "\t</status>\n";
    document += responseDocument::Closing;
    return document;
}

}  // namespace norvale::quillmark
