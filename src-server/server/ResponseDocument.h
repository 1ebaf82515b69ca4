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

}  // namespace norvale::quillmark::responseDocument
