#pragma once

#include <string>
#include <string_view>

struct _xmlError;

namespace xml {

// The first error the XML library reported for one parse, schema compilation or validation.
// One ParseError belongs to one call on one thread: the library's structured error callbacks
// are pointed at it per call, never at global state, so concurrent parses never mix reports.
class ParseError {
public:
    // The structured error callback of libxml2; `context` is the ParseError.
    static void collect(void* context, _xmlError* error);

    // Records an error the layer itself detects (a refused DTD, a missing schema); the first
    // recorded error wins, as with the library's own.
    void record(int code, int line, int column, std::string description);

    bool empty() const { return !_present; }

    // The labelled report: "Error Code: ", "Line: ", "Row: ", "Description: " and
    // "Error line: " (the offending line of `source`), one per line, "N/A" for what is unknown.
    std::string text(std::string_view source) const;

private:
    bool _present = false;
    int _code = 0;
    int _line = 0;
    int _column = 0;
    std::string _description;
};

// Line `number` (counted from 1) of `text`, without its line break; "N/A" when there is none.
// Cut to a bounded length: the line serves as a hint, and a request may be one huge line.
std::string sourceLine(std::string_view text, int number);

}  // namespace xml
