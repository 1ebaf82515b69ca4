#include "util/StringHelper.h"

namespace util {

std::string StringHelper::toLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

}  // namespace util
