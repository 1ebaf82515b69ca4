#pragma once

// The fault codes that fatal signals are reported with, so that the fault-code table
// (SehExceptionMapper) describes them: SIGSEGV is an access violation (0xC0000005), an integer
// division by zero 0xC0000094, and so on. Async-signal-safe.

#include <cstdint>
#include <span>

namespace posix::signals {

// 0 for a signal that is not one of SIGSEGV, SIGBUS, SIGFPE and SIGILL.
std::uint32_t exceptionCodeForSignal(int signal, int siCode) noexcept;

// Every code exceptionCodeForSignal can answer besides 0.
std::span<const std::uint32_t> fatalSignalExceptionCodes() noexcept;

}  // namespace posix::signals
