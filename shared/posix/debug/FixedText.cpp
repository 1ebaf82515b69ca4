#include "posix/debug/FixedText.h"

#include <cstring>

namespace posix::debug {

FixedText::FixedText(char* buffer, std::size_t capacity) noexcept
    : _buffer(buffer), _capacity(capacity) {
    _buffer[0] = '\0';
}

FixedText& FixedText::append(const char* text) noexcept {
    return text == nullptr ? *this : append(text, std::strlen(text));
}

FixedText& FixedText::append(const char* text, std::size_t length) noexcept {
    const std::size_t room = _capacity - 1 - _length;
    if (length > room) {
        length = room;
        _truncated = true;
    }
    std::memcpy(_buffer + _length, text, length);
    _length += length;
    _buffer[_length] = '\0';
    return *this;
}

FixedText& FixedText::appendDecimal(std::uint64_t value) noexcept {
    char digits[24];
    std::size_t count = 0;
    do {
        digits[sizeof digits - 1 - count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return append(digits + sizeof digits - count, count);
}

FixedText& FixedText::appendDecimal(std::int64_t value) noexcept {
    if (value >= 0) return appendDecimal(static_cast<std::uint64_t>(value));
    append("-");
    // Negating in unsigned arithmetic keeps the most negative value exact.
    return appendDecimal(0 - static_cast<std::uint64_t>(value));
}

FixedText& FixedText::appendHex(std::uint64_t value) noexcept {
    char digits[16];
    std::size_t count = 0;
    do {
        digits[sizeof digits - 1 - count++] = "0123456789abcdef"[value % 16];
        value /= 16;
    } while (value != 0);
    append("0x");
    return append(digits + sizeof digits - count, count);
}

FixedText& FixedText::appendSystemErrorText(int code) noexcept {
    // strerrordesc_np reads a constant table: no locale lookup, no allocation.
    const char* description = strerrordesc_np(code);
    append("System error message: ");
    if (description == nullptr || *description == '\0') {
        append("Error message not found.");
    } else {
        append(description);
        if (_length > 0 && _buffer[_length - 1] != '.') append(".");
    }
    append(" Error code: ");
    appendDecimal(static_cast<std::int64_t>(code));
    return append(".");
}

}  // namespace posix::debug
