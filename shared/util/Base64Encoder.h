#pragma once

// Base64 encoding (RFC 4648 standard alphabet, "=" padding, no line breaks) of a byte string.
// Implementations hold no state and may be shared by any number of threads.

#include <string>
#include <string_view>

namespace util {

class Base64Encoder {
public:
    virtual ~Base64Encoder() = default;

    virtual std::string encode(std::string_view bytes) const = 0;
};

}  // namespace util
