#include "util/NumberParser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace util {

std::int64_t parseInteger(const std::string& text, std::int64_t minimum, std::int64_t maximum) {
    if (text.empty()) {
        throw NumberFormatException("The empty string cannot be parsed into an integer");
    }
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (value == 0 && (errno != 0 || end == begin)) {
        throw NumberFormatException("Error parsing the string [" + text + "] to a number");
    }
    if (value < minimum) {
        throw NumberFormatException("Error converting [" + text +
                                    "] to a number. The number is too small.");
    }
    if (value > maximum) {
        throw NumberFormatException("Error converting [" + text +
                                    "] to a number. The number is too large.");
    }
    return value;
}

double parseDouble(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (value == 0.0 && (errno != 0 || end == begin)) {
        throw NumberFormatException("Error parsing the string [" + text + "] to a double.");
    }
    if (std::isinf(value)) {
        throw NumberFormatException("Overflow when converting [" + text + "] to a double. ");
    }
    return value;
}

}  // namespace util
