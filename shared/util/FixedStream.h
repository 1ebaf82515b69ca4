#pragma once

// A text builder in a fixed buffer of Capacity bytes that never allocates: text beyond
// Capacity - 1 characters is dropped silently and the content is always NUL-terminated. Meant
// for messages built where allocation is unwelcome (exception texts, reports). One thread.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "debug/assertion.h"

namespace util {

template <std::size_t Capacity>
class FixedStream {
    static_assert(Capacity > 0, "A FixedStream needs room for its terminating NUL.");

public:
    FixedStream() { _buffer[0] = '\0'; }

    FixedStream& operator<<(std::string_view text) {
        const std::size_t room = Capacity - 1 - _length;
        const std::size_t count = text.size() < room ? text.size() : room;
        std::memcpy(_buffer + _length, text.data(), count);
        _length += count;
        _buffer[_length] = '\0';
        QM_ASSERT(_length < Capacity, "The stream wrote past its buffer.");
        return *this;
    }
    FixedStream& operator<<(const char* text) { return *this << std::string_view(text); }
    FixedStream& operator<<(const std::string& text) { return *this << std::string_view(text); }
    FixedStream& operator<<(char c) { return *this << std::string_view(&c, 1); }

    // Integers in decimal ("%lld" / "%llu"); bool and char are not integers here.
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> &&
             !std::is_same_v<T, char>) FixedStream&
    operator<<(T value) {
        char digits[24];
        int length;
        if constexpr (std::is_signed_v<T>) {
            length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
        } else {
            length = std::snprintf(digits, sizeof digits, "%llu",
                                   static_cast<unsigned long long>(value));
        }
        return *this << std::string_view(digits, static_cast<std::size_t>(length));
    }

    const char* c_str() const { return _buffer; }
    std::size_t size() const { return _length; }
    std::string str() const { return std::string(_buffer, _length); }
    static constexpr std::size_t capacity() { return Capacity; }

private:
    char _buffer[Capacity];
    std::size_t _length = 0;
};

}  // namespace util
