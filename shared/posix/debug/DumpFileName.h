#pragma once

// The name of a crash report: folder + "dump_threadid_" + thread id + "_time_" + seconds since
// 1970 + ".dmp". One rule for the log's dumps and for the fatal-signal handler's reports.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace posix::debug {

std::string dumpFileName(const std::string& folder, std::uint32_t threadId, std::time_t seconds);

// The same into a fixed buffer, async-signal-safe; false when the name does not fit.
bool formatDumpFileName(const char* folder, std::uint32_t threadId, std::time_t seconds,
                        char* buffer, std::size_t size) noexcept;

}  // namespace posix::debug
