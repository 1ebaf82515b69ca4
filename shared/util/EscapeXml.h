#pragma once

#include <string>
#include <string_view>

namespace util {

// Makes a byte string safe inside XML element text and double-quoted attribute values: "&", the
// double quote, "<" and ">" become entities; everything else, the apostrophe included, is copied.
std::string escapeXml(std::string_view text);
// The same, appended to `out`.
void appendEscapedXml(std::string& out, std::string_view text);

}  // namespace util
