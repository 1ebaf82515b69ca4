#pragma once

#include "exceptions/Exception.h"
#include "util/Base64Encoder.h"

namespace util {

class Base64EncoderImplException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class Base64EncoderImpl : public Base64Encoder {
public:
    // Throws Base64EncoderImplException when the encoded text could not be held in memory.
    std::string encode(std::string_view bytes) const override;
};

}  // namespace util
