#include "platform/errorresources/SystemErrorText.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "debug/assertion.h"

namespace platform::errorresources {

namespace {

constexpr std::size_t MaxTextLength = 2048;

// strerror_r (GNU form) answers "Unknown error N" for codes it has no description of.
bool systemDescription(int code, std::string& text) {
    char buffer[512];
    const char* description = strerror_r(code, buffer, sizeof buffer);
    if (description == nullptr || *description == '\0' ||
        std::string_view(description).starts_with("Unknown error")) {
        return false;
    }
    text = description;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) return false;
    if (text.back() != '.') text += '.';
    return true;
}

}  // namespace

std::string systemErrorText(int code, const ErrorMapper* mapper) {
    std::string description;
    if (!systemDescription(code, description)) {
        if (mapper != nullptr && mapper->lookup(code, description)) {
            description += '.';
        } else {
            description = "Error message not found.";
        }
    }
    std::string text =
        "System error message: " + description + " Error code: " + std::to_string(code) + ".";
    QM_ASSERT_TEXT(text.size() < MaxTextLength, "written < sizeof buffer",
                   "The system error text does not fit its buffer.");
    return text;
}

std::string lastSystemErrorText(const ErrorMapper* mapper) {
    return systemErrorText(errno, mapper);
}

}  // namespace platform::errorresources
