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

// Length of the UTF-8 sequence at `at` when it encodes a character XML allows in text (tab, line
// feed, carriage return, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF); 0 otherwise.
std::size_t xmlCharacterLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return (lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r') ? 1 : 0;
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF) return 0;  // overlong or beyond Unicode
    if ((code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF) return 0;
    return length;
}

// A message may quote raw request bytes (a parse error of a garbage request names its line);
// every byte that is not part of a character XML allows becomes '?', so that the document stays
// well-formed whatever the client sent.
std::string asXmlCharacters(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = xmlCharacterLength(text, at);
        if (length == 0) {
            result += '?';
            ++at;
        } else {
            result.append(text, at, length);
            at += length;
        }
    }
    return result;
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
    document += asXmlCharacters(withoutSourceLine(util::escapeXml(message)));
    document += "\t</status>\n";
    document += responseDocument::Closing;
    return document;
}

}  // namespace norvale::quillmark
