#pragma once

// The content of a crash report: the time, the calling thread's id and name, an optional
// headline (the fault of a fatal signal), a backtrace of the calling thread, and copies of
// /proc/self/status and /proc/self/maps. Writing is async-signal-safe (only open, read, write
// and fixed buffers), so the fatal-signal handler uses it as well as WriteDumpImpl. Construct it
// outside any signal handler: construction loads the unwinder that backtrace() needs.

#include <cstddef>

#include "posix/debug/SignalSafeClock.h"

namespace posix::debug {

class CrashReportWriter {
public:
    CrashReportWriter() noexcept;

    // Writes the report to fd; headline may be null. Returns false, with errno telling why,
    // when a write failed.
    bool write(int fd, const char* headline) const noexcept;

private:
    bool writeHeader(int fd, const char* headline) const noexcept;
    static bool writeBacktrace(int fd) noexcept;
    static bool copyFile(int fd, const char* title, const char* path) noexcept;

    SignalSafeClock _clock;
};

// Writes all of bytes to fd, retrying after interruptions and short writes; false with errno set
// on failure. Async-signal-safe.
bool writeFully(int fd, const char* bytes, std::size_t length) noexcept;

}  // namespace posix::debug
