#pragma once

namespace platform::mutex {

// The exclusive side of a reader/writer lock: one writer at a time and no reader meanwhile.
// Hold it through WriterAutoLock; the thread that locked it must be the one that unlocks it.
class WriterLock {
public:
    virtual ~WriterLock() = default;

    virtual void lock() = 0;
    virtual void unlock() = 0;
};

}  // namespace platform::mutex
