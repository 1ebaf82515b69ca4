#pragma once

// The 24-character local time text ("Sun Dec 06 04:21:53 2026") for code that runs inside a
// fatal-signal handler, where localtime_r may deadlock on the time-zone lock. The offset from UTC
// is taken once at construction; a daylight-saving change after that shifts the text by the
// difference, which a crash report can live with. Immutable; any thread, any signal handler.

#include <cstddef>
#include <ctime>

namespace posix::debug {

class SignalSafeClock {
public:
    SignalSafeClock() noexcept;
    explicit SignalSafeClock(long utcOffsetSeconds) noexcept : _utcOffset(utcOffsetSeconds) {}

    // The current time in seconds since 1970 (clock_gettime, which is async-signal-safe).
    static std::time_t now() noexcept;

    // Writes the text of `when` and a terminating zero into buffer (at least 25 bytes); false
    // when the buffer is too small.
    bool timeText(std::time_t when, char* buffer, std::size_t size) const noexcept;

private:
    long _utcOffset;
};

}  // namespace posix::debug
