#pragma once

#include <cstddef>
#include <string_view>

namespace util {

// One character of a UTF-8 text.
struct Utf8Character {
    std::size_t length;  // in bytes; 0 when the bytes are not well-formed UTF-8
    char32_t code;
};

// The character at `at` (< text.size()). Not well-formed: a stray or missing continuation byte,
// an overlong form, a surrogate, or a code point past U+10FFFF.
inline Utf8Character utf8Character(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {1, lead};
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return {0, 0};
    }
    if (at + length > text.size()) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return {0, 0};
        code = (code << 6) | (byte(i) & 0x3F);
    }
    constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < Smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {0, 0};
    }
    return {length, code};
}

// Whether an XML 1.0 document can hold the character: tab, line feed, carriage return and every
// other character from U+0020 on but U+FFFE and U+FFFF.
inline bool xmlAllows(char32_t code) {
    return code >= 0x20 ? code != 0xFFFE && code != 0xFFFF
                        : code == '\t' || code == '\n' || code == '\r';
}

// The length of the character at `at` when it is well-formed and XML can hold it, else 0.
inline std::size_t xmlCharacterLength(std::string_view text, std::size_t at) {
    const Utf8Character character = utf8Character(text, at);
    return character.length != 0 && xmlAllows(character.code) ? character.length : 0;
}

}  // namespace util
