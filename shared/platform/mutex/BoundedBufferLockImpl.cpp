#include "platform/mutex/BoundedBufferLockImpl.h"

namespace platform::mutex {

BoundedBufferLockImpl::BoundedBufferLockImpl(std::uint32_t capacity)
    : _freeSlots(capacity, Semaphore::Unnamed), _filledSlots(0, Semaphore::Unnamed) {}

void BoundedBufferLockImpl::beginPut() {
    _freeSlots.wait();
    _queue.lock();
}

void BoundedBufferLockImpl::endPut(bool added) {
    _queue.unlock();
    (added ? _filledSlots : _freeSlots).release(1);
}

void BoundedBufferLockImpl::beginTake() {
    _filledSlots.wait();
    _queue.lock();
}

void BoundedBufferLockImpl::endTake(bool taken) {
    _queue.unlock();
    (taken ? _freeSlots : _filledSlots).release(1);
}

}  // namespace platform::mutex
