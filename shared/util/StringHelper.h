#pragma once

// Byte-string operations shared by the request layer and the repository. Stateless; any thread.

#include <string>
#include <string_view>

namespace util {

class StringHelper {
public:
    // Lower-cases the ASCII letters A-Z only; every other byte (UTF-8 included) is unchanged.
    static std::string toLower(std::string_view text);
};

}  // namespace util
