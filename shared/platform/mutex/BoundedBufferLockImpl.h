#pragma once

#include <cstdint>

#include "platform/mutex/BoundedBufferLock.h"
#include "platform/mutex/CriticalSection.h"
#include "platform/mutex/Semaphore.h"

namespace platform::mutex {

// Two counting semaphores (free and filled slots) and a critical section around the queue.
class BoundedBufferLockImpl : public BoundedBufferLock {
public:
    explicit BoundedBufferLockImpl(std::uint32_t capacity);

    void beginPut() override;
    void endPut(bool added) override;
    void beginTake() override;
    void endTake(bool taken) override;

private:
    Semaphore _freeSlots;
    Semaphore _filledSlots;
    CriticalSection _queue;
};

}  // namespace platform::mutex
