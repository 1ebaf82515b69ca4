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

// Characters outside the alphabet (padding, line breaks) are skipped; a NUL ends the text.
std::string Base64DecoderImpl::decode(std::string_view text) const {
    text = text.substr(0, text.find('\0'));
    std::string bytes(text.size() / 4 * 3 + 2, '\0');
    char* out = bytes.data();
    const auto value = [&](std::size_t at) { return Values[static_cast<unsigned char>(text[at])]; };
    unsigned bits = 0;
    int pendingBits = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        // Four letters of the alphabet at a byte boundary make three bytes at once.
        if (pendingBits == 0 && text.size() - at >= 4) {
            const int a = value(at), b = value(at + 1), c = value(at + 2), d = value(at + 3);
            if ((a | b | c | d) >= 0) {
                const unsigned group = static_cast<unsigned>(a << 18 | b << 12 | c << 6 | d);
                *out++ = static_cast<char>(group >> 16);
                *out++ = static_cast<char>((group >> 8) & 0xFF);
                *out++ = static_cast<char>(group & 0xFF);
                at += 4;
                continue;
            }
        }
        const int next = value(at++);
        if (next == NotInAlphabet) continue;
        bits = (bits << 6) | static_cast<unsigned>(next);
        pendingBits += 6;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            *out++ = static_cast<char>((bits >> pendingBits) & 0xFF);
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

}  // namespace util
