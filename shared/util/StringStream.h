#pragma once

// A text builder that starts in an inline buffer of 4097 bytes (enough for almost every log
// line, so building one does not allocate) and moves to a larger heap buffer when the text
// outgrows it, so nothing is ever cut. The content is always NUL-terminated. One thread.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace util {

class StringStream {
public:
    static constexpr std::size_t InlineCapacity = 4097;

    StringStream();
    StringStream(const StringStream&) = delete;
    StringStream& operator=(const StringStream&) = delete;

    StringStream& operator<<(std::string_view text);
    StringStream& operator<<(const char* text) { return *this << std::string_view(text); }
    StringStream& operator<<(const std::string& text) { return *this << std::string_view(text); }
    StringStream& operator<<(char c) { return *this << std::string_view(&c, 1); }

    // Integers in decimal ("%lld" / "%llu"); bool and char are not integers here.
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> &&
             !std::is_same_v<T, char>) StringStream&
    operator<<(T value) {
        if constexpr (std::is_signed_v<T>) {
            return appendSigned(static_cast<long long>(value));
        } else {
            return appendUnsigned(static_cast<unsigned long long>(value));
        }
    }

    const char* c_str() const { return _data; }
    std::size_t size() const { return _length; }
    std::string str() const { return std::string(_data, _length); }
    // Bytes the current buffer holds, the terminating NUL included.
    std::size_t capacity() const { return _capacity; }

private:
    StringStream& appendSigned(long long value);
    StringStream& appendUnsigned(unsigned long long value);
    void moveToLargerBuffer(std::size_t needed, std::string_view text);

    char _inline[InlineCapacity];
    std::unique_ptr<char[]> _heap;
    char* _data;
    std::size_t _capacity;
    std::size_t _length = 0;
};

}  // namespace util
