#pragma once

// Base64 decoding (RFC 4648 standard alphabet) of texts that may carry line breaks, padding or
// other noise: every character outside the alphabet is skipped and a NUL ends the text.
// Implementations hold no state and may be shared by any number of threads.

#include <string>
#include <string_view>

namespace util {

class Base64Decoder {
public:
    virtual ~Base64Decoder() = default;

    virtual std::string decode(std::string_view text) const = 0;
};

}  // namespace util
