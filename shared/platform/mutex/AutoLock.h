#pragma once

#include "debug/assertion.h"
#include "exceptions/Exception.h"

namespace platform::mutex {

// Holds a lock for its own lifetime: locks in the constructor, unlocks in the destructor. An
// unlock that fails there cannot be thrown, so it is reported as a broken invariant. M is any
// type with lock() and unlock(): Mutex and its implementations.
template <class M>
class AutoLock {
public:
    explicit AutoLock(M* mutex) : _mutex(mutex) { _mutex->lock(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

    ~AutoLock() {
        try {
            _mutex->unlock();
        } catch (const exceptions::Exception& e) {
            debug::assertion("false", e.what(), __FILE__, __LINE__);
        }
    }

private:
    M* _mutex;
};

}  // namespace platform::mutex
