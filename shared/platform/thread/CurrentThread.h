#pragma once

#include <cstdint>
#include <string_view>

namespace platform::thread {

// The kernel's id of the calling thread (gettid): the number that log lines, crash reports and
// the owner checks of the mutexes show. Never 0.
std::uint32_t currentThreadId() noexcept;

// The name of the ThreadImpl whose body the calling thread runs, "" on any other thread (the
// main thread included). Reading it is async-signal-safe, so a fatal-signal handler may use it.
const char* currentThreadName() noexcept;

namespace detail {

// Set by a thread body as it starts; the name is cut to fit a fixed buffer of 256 bytes.
void setCurrentThreadName(std::string_view name) noexcept;

}  // namespace detail

}  // namespace platform::thread
