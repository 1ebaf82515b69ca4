#pragma once

#include <cstdint>

#include "exceptions/Exception.h"

namespace util {

class ConverterException : public exceptions::Exception {
public:
    using Exception::Exception;
};

// Narrows an unsigned 32-bit value to signed 32 bits; values of 2147483648 or more throw
// ConverterException instead of wrapping.
std::int32_t toSigned32(std::uint32_t value);

}  // namespace util
