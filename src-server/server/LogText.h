#pragma once

#include <string>
#include <string_view>

namespace norvale::quillmark {

// `text` with every control character written as an escape (\n, \r, \t, \xNN; a backslash
// doubled), for text a client chose that goes into a log line: one entry stays one entry
// whatever the client sent.
std::string escapedForLog(std::string_view text);

}  // namespace norvale::quillmark
