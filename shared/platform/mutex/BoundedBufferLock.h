#pragma once

namespace platform::mutex {

// Producer/consumer guard around a queue of fixed capacity that the caller owns. A producer
// brackets its append with beginPut/endPut, a consumer its removal with beginTake/endTake; the
// flag of the end call says whether an item really moved, so a failed step gives its slot back.
// Each begin/end pair runs on one thread; any number of threads may use the lock.
class BoundedBufferLock {
public:
    virtual ~BoundedBufferLock() = default;

    // Waits for a free slot, then holds the queue.
    virtual void beginPut() = 0;
    virtual void endPut(bool added) = 0;
    // Waits for a filled slot, then holds the queue.
    virtual void beginTake() = 0;
    virtual void endTake(bool taken) = 0;
};

}  // namespace platform::mutex
