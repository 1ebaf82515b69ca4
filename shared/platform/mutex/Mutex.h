#pragma once

namespace platform::mutex {

// A lock that one thread at a time holds. Implementations are shared between threads; hold them
// through AutoLock so that every exit path releases them. Whether a holder may lock again, and
// whether unlock checks the caller, is up to the implementation.
class Mutex {
public:
    virtual ~Mutex() = default;

    virtual void lock() = 0;
    virtual void unlock() = 0;
};

}  // namespace platform::mutex
