#include "util/Base64EncoderImpl.h"

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

namespace util {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendGroup(std::string& text, const unsigned char* group, std::size_t length) {
    const unsigned bits =
        (group[0] << 16) | ((length > 1 ? group[1] : 0) << 8) | (length > 2 ? group[2] : 0);
    text += Alphabet[(bits >> 18) & 0x3F];
    text += Alphabet[(bits >> 12) & 0x3F];
    text += length > 1 ? Alphabet[(bits >> 6) & 0x3F] : '=';
    text += length > 2 ? Alphabet[bits & 0x3F] : '=';
}

}  // namespace

std::string Base64EncoderImpl::encode(std::string_view bytes) const {
    std::string text;
    if (bytes.size() / 3 >= text.max_size() / 4 - 1) {
        throw Base64EncoderImplException(
            "Couldn't base64 encode a string with size: " + std::to_string(bytes.size()) + "\n" +
            platform::errorresources::systemErrorText(EOVERFLOW));
    }
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t offset = 0; offset < bytes.size(); offset += 3) {
        appendGroup(text, data + offset, std::min<std::size_t>(3, bytes.size() - offset));
    }
    return text;
}

}  // namespace util
