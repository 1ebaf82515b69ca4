#pragma once

#include <cstddef>

namespace platform::thread {

// Gives the calling thread its own alternate signal stack for the lifetime of the object, so that
// the fatal-signal handler can still run when the thread has used up its normal stack. Every
// ThreadImpl body holds one; the thread that installs the fatal-signal handlers holds one for
// itself. The stack that was set before (for example a sanitizer's) is put back on destruction.
// Construct and destroy it on the same thread. Without memory for the stack it does nothing: the
// handler then still runs for every fault but a stack overflow.
class AlternateSignalStack {
public:
    static constexpr std::size_t Size = 64 * 1024;

    AlternateSignalStack() noexcept;
    ~AlternateSignalStack();
    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

    bool installed() const noexcept { return _memory != nullptr; }

private:
    void* _memory = nullptr;
    std::size_t _size = 0;
    void* _previousStack = nullptr;
    std::size_t _previousSize = 0;
    int _previousFlags = 0;
};

}  // namespace platform::thread
