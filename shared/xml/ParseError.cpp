#include "xml/ParseError.h"

#include <libxml/xmlerror.h>

namespace xml {

namespace {

constexpr std::size_t MaxSourceLineLength = 1024;

std::string numberOrUnknown(int value) {
    return value > 0 ? std::to_string(value) : "N/A";
}

std::string withoutTrailingBreaks(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

void ParseError::collect(void* context, _xmlError* error) {
    if (context == nullptr || error == nullptr || error->level < XML_ERR_ERROR) return;
    static_cast<ParseError*>(context)->record(error->code, error->line, error->int2,
                                              error->message ? error->message : "");
}

void ParseError::record(int code, int line, int column, std::string description) {
    if (_present) return;
    _present = true;
    _code = code;
    _line = line;
    _column = column;
    _description = withoutTrailingBreaks(std::move(description));
}

std::string ParseError::text(std::string_view source) const {
    std::string result;
    // Code 0 marks a failure the layer detected itself; the library never reports it.
    result += "Error Code: " + numberOrUnknown(_code) + "\n";
    result += "Line: " + numberOrUnknown(_line) + "\n";
    result += "Row: " + numberOrUnknown(_column) + "\n";
    result += "Description: " + (_description.empty() ? std::string("N/A") : _description) + "\n";
    result += "Error line: " + sourceLine(source, _line) + "\n";
    return result;
}

std::string sourceLine(std::string_view text, int number) {
    if (number <= 0) return "N/A";
    std::size_t begin = 0;
    for (int line = 1; line < number; ++line) {
        begin = text.find('\n', begin);
        if (begin == std::string_view::npos) return "N/A";
        ++begin;
    }
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(begin, end - begin));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > MaxSourceLineLength) line.resize(MaxSourceLineLength);
    return line;
}

}  // namespace xml
