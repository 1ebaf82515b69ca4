#pragma once

#include <cstdint>

namespace platform::thread {

// A started thread that its owner waits for. A successful join ends the thread's life; joining
// a thread that was never started, or is already joined, does nothing.
class Joinable {
public:
    virtual ~Joinable() = default;

    // Waits at most timeoutMs milliseconds; false when the thread still runs (it stays joinable)
    // or was not running at all.
    virtual bool join(std::uint32_t timeoutMs) = 0;
    virtual void join() = 0;
};

}  // namespace platform::thread
