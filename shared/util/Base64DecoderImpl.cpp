#include "util/Base64DecoderImpl.h"

#include <array>

namespace util {

namespace {

constexpr int NotInAlphabet = -1;

constexpr std::array<int, 256> makeValues() {
    std::array<int, 256> values{};
    values.fill(NotInAlphabet);
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = i;
    return values;
}

constexpr std::array<int, 256> Values = makeValues();

}  // namespace

std::string Base64DecoderImpl::decode(std::string_view text) const {
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    unsigned bits = 0;
    int pendingBits = 0;
    for (const char c : text) {
        if (c == '\0') break;
        const int value = Values[static_cast<unsigned char>(c)];
        if (value == NotInAlphabet) continue;
        bits = (bits << 6) | static_cast<unsigned>(value);
        pendingBits += 6;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            bytes += static_cast<char>((bits >> pendingBits) & 0xFF);
        }
    }
    return bytes;
}

}  // namespace util
