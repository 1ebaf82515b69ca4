#pragma once

// The requests clients send, described for xml::ShapeReader: texts, read calls and write
// calls with exactly the attributes the request schema gives them, and nothing else. A request
// of this shape is valid against the schema without its text id rules, which RequestTexts
// checks, so it need not go through the schema validator. The description is written for the
// request schema whose text has the CRC-32 SchemaChecksum; with any other schema loaded, every
// request is validated.

#include <cstdint>
#include <string_view>

#include "xml/DocumentShape.h"

namespace norvale::quillmark::requestShape {

inline constexpr std::uint32_t SchemaChecksum = 0xfbdd56d7;

extern const xml::DocumentShape Shape;

// 1 to 100 letters, digits, '_', '-' or '.', not beginning with '.': the schema's pattern
// [A-Za-z0-9_\-][A-Za-z0-9_.\-]{0,99}, and the server's own rule for classifier names.
bool isClassifierName(std::string_view value);

}  // namespace norvale::quillmark::requestShape
