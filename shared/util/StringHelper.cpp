#include "util/StringHelper.h"

#include <cstdlib>
#include <vector>

#include "debug/assertion.h"

namespace util {

std::size_t StringHelper::replaceAll(std::string& text, std::string_view searchFor,
                                     std::string_view replaceWith) {
    if (searchFor.empty()) return 0;
    std::size_t count = 0;
    std::size_t position = text.find(searchFor);
    while (position != std::string::npos) {
        text.replace(position, searchFor.size(), replaceWith);
        position += replaceWith.size();
        QM_ASSERT(position <= text.size(), "The search resumes outside the text.");
        ++count;
        position = text.find(searchFor, position);
    }
    return count;
}

std::string StringHelper::toLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

std::string StringHelper::toNarrow(const std::wstring& text) {
    const std::size_t length = std::wcstombs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1)) {
        throw StringHelperException("Could not get the length of the wide string.");
    }
    std::vector<char> buffer(length + 1);
    if (std::wcstombs(buffer.data(), text.c_str(), buffer.size()) != length) {
        throw StringHelperException("Could not convert the wide string to a normal string.");
    }
    return std::string(buffer.data(), length);
}

}  // namespace util
