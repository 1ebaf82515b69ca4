#include "util/Converter.h"

#include <limits>
#include <string>

namespace util {

std::int32_t toSigned32(std::uint32_t value) {
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    if (value > static_cast<std::uint32_t>(max)) {
        throw ConverterException("Conversion failed. The supplied number, " +
                                 std::to_string(value) + ", is larger than the max value, " +
                                 std::to_string(max) + " of the destination type.");
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace util
