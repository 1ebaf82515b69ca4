#include "server/LogText.h"

namespace norvale::quillmark {

std::string escapedForLog(std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += Hex[byte >> 4];
            out += Hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace norvale::quillmark
