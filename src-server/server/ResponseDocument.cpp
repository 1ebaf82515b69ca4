#include "server/ResponseDocument.h"

#include <charconv>

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

namespace {

// Length of the UTF-8 sequence at `at` when it encodes a character XML allows; 0 otherwise.
std::size_t xmlCharacterLength(std::string_view text, std::size_t at) {
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

}  // namespace

std::string xmlCharacters(std::string_view text) {
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

// The text printf's "%.6g" writes, without printf's cost.
std::string number(double value) {
    char buffer[32];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, written.ptr);
}

}  // namespace norvale::quillmark::responseDocument
