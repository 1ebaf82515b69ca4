#pragma once

// Decimal number parsing for configuration values. It follows the C library conversions: leading
// white space and a sign are accepted and the number ends at the first character that cannot
// continue it, so "8080x" reads as 8080. Only a text with no number at its start is refused.

#include <cstdint>
#include <string>

#include "exceptions/Exception.h"

namespace util {

class NumberFormatException : public exceptions::Exception {
public:
    using Exception::Exception;
};

// Throws NumberFormatException for an empty text, a text without a leading number, and a value
// outside [minimum, maximum].
std::int64_t parseInteger(const std::string& text, std::int64_t minimum, std::int64_t maximum);

// Throws NumberFormatException for a text without a leading number and for an infinite result.
double parseDouble(const std::string& text);

}  // namespace util
