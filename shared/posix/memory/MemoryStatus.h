#pragma once

// Physical memory figures for the log's memory column and the repository's eviction decision.
// Created once at start-up and shared by pointer; every call reads the current figures and may
// come from any thread.

#include <cstdint>

#include "exceptions/Exception.h"

namespace platform::memory {

class MemoryStatusException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class MemoryStatus {
public:
    virtual ~MemoryStatus() = default;

    // Bytes that can still be allocated without swapping.
    virtual std::uint64_t available() const = 0;
    // Bytes of physical memory this process may use at most.
    virtual std::uint64_t total() const = 0;
};

}  // namespace platform::memory
