#include "server/LogLevel.h"

#include <algorithm>
#include <iterator>

namespace norvale::quillmark {

namespace {
constexpr const char* Names[] = {"Log", "Error", "Failure", "Test"};
constexpr const char* ParsedNames[] = {"log", "error", "failure", "test"};
}  // namespace

const char* logLevelName(int level) {
    if (level < 0 || level >= static_cast<int>(std::size(Names))) {
        throw LogLevelException("Couldn't convert the log level " + std::to_string(level) +
                                " to any existing level.");
    }
    return Names[level];
}

int logLevelFromText(const std::string& text) {
    std::string lowered = text;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    for (int level = 0; level < static_cast<int>(std::size(ParsedNames)); ++level) {
        if (lowered == ParsedNames[level]) return level;
    }
    throw LogLevelException("Couldn't convert the string log level " + text +
                            " to any existing level.");
}

}  // namespace norvale::quillmark
