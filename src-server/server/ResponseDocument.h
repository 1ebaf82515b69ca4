#pragma once

// Pieces of text common to every document the server writes: the opening lines (declaration and
// the quillmark start tag) and the closing tag, which ends the document without a line feed.

#include <string>
#include <string_view>

namespace norvale::quillmark::responseDocument {

inline constexpr std::string_view Closing = "</quillmark>";

// The declaration line and the root start tag line in the response namespace.
std::string opening(std::string_view responseNamespace, std::string_view version);

// A probability or text coverage as written into attributes ("%.6g").
std::string number(double value);

// `text` with every byte that is not part of a character XML allows (UTF-8 encoded tab, line
// feed, carriage return, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF) replaced by '?'.
// Messages may quote raw request bytes, and keywords are raw text bytes cut to a feature's
// length, possibly inside a multi-byte character; written through this, the document stays
// well-formed whatever the client sent.
std::string xmlCharacters(std::string_view text);

}  // namespace norvale::quillmark::responseDocument
