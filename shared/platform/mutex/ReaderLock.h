#pragma once

namespace platform::mutex {

// The shared side of a reader/writer lock: any number of readers hold it at once, never together
// with a writer. Hold it through ReaderAutoLock; lock and unlock may come from different threads.
class ReaderLock {
public:
    virtual ~ReaderLock() = default;

    virtual void lock() = 0;
    virtual void unlock() = 0;
};

}  // namespace platform::mutex
