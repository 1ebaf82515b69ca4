#pragma once

// Byte-string operations shared by the request layer and the repository. Stateless; any thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "exceptions/Exception.h"

namespace util {

class StringHelperException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class StringHelper {
public:
    // Replaces every occurrence of `searchFor`, scanning left to right and resuming after each
    // inserted text (so a replacement that contains the search text is not searched again).
    // Returns the number of replacements; an empty `searchFor` replaces nothing.
    static std::size_t replaceAll(std::string& text, std::string_view searchFor,
                                  std::string_view replaceWith);

    // Lower-cases the ASCII letters A-Z only; every other byte (UTF-8 included) is unchanged.
    static std::string toLower(std::string_view text);

    // Converts with the C library's wide-to-multibyte conversion of the current locale; throws
    // StringHelperException for characters the locale cannot represent.
    static std::string toNarrow(const std::wstring& text);
};

}  // namespace util
