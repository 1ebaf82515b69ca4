#pragma once

#include <mutex>

#include "platform/mutex/Mutex.h"

namespace platform::mutex {

// The cheapest in-process lock: recursive for its holder, no owner check on unlock (unlocking
// from a thread that does not hold it is a programming error the caller must never make).
class CriticalSection : public Mutex {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() override { _section.lock(); }
    void unlock() override { _section.unlock(); }

private:
    std::recursive_mutex _section;
};

}  // namespace platform::mutex
