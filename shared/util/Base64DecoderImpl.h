#pragma once

#include "exceptions/Exception.h"
#include "util/Base64Decoder.h"

namespace util {

// Part of the decoder's contract for callers that catch it; the decoder below accepts every text
// (it skips what it cannot use), so it has no failure of its own to report.
class Base64DecoderImplException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class Base64DecoderImpl : public Base64Decoder {
public:
    // A final group of 2 or 3 characters gives 1 or 2 bytes; a lone final character gives none.
    std::string decode(std::string_view text) const override;
};

}  // namespace util
