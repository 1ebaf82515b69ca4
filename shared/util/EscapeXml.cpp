#include "util/EscapeXml.h"

namespace util {

std::string escapeXml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    appendEscapedXml(escaped, text);
    return escaped;
}

void appendEscapedXml(std::string& out, std::string_view text) {
    // Runs without a character to replace are copied whole.
    std::size_t run = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string_view entity;
        switch (text[at]) {
            case '&':
                entity = "&amp;";
                break;
            case '"':
                entity = "&quot;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            default:
                continue;
        }
        out.append(text.data() + run, at - run);
        out.append(entity);
        run = at + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

}  // namespace util
