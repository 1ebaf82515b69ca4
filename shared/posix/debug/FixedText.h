#pragma once

// Text assembled in a caller-supplied buffer without allocating, for code that runs inside a
// fatal-signal handler (crash reports, the crash log line). Appending past the capacity cuts the
// text and marks it truncated; the buffer always holds a terminated string. Async-signal-safe.

#include <cstddef>
#include <cstdint>

namespace posix::debug {

class FixedText {
public:
    // capacity counts the terminating zero and must be at least 1.
    FixedText(char* buffer, std::size_t capacity) noexcept;
    FixedText(const FixedText&) = delete;
    FixedText& operator=(const FixedText&) = delete;

    FixedText& append(const char* text) noexcept;
    FixedText& append(const char* text, std::size_t length) noexcept;
    FixedText& appendDecimal(std::uint64_t value) noexcept;
    FixedText& appendDecimal(std::int64_t value) noexcept;
    // "0x" followed by lower-case hexadecimal digits.
    FixedText& appendHex(std::uint64_t value) noexcept;
    // The system error text of `code` in the form every failure message ends with:
    // "System error message: " + description + " Error code: " + code + ".".
    FixedText& appendSystemErrorText(int code) noexcept;

    const char* text() const noexcept { return _buffer; }
    std::size_t length() const noexcept { return _length; }
    bool truncated() const noexcept { return _truncated; }

private:
    char* _buffer;
    std::size_t _capacity;
    std::size_t _length = 0;
    bool _truncated = false;
};

}  // namespace posix::debug
