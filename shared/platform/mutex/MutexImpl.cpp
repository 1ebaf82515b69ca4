#include "platform/mutex/MutexImpl.h"

#include <system_error>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/mutex/MutexException.h"
#include "platform/thread/CurrentThread.h"

namespace platform::mutex {

namespace {

template <class Operation>
void throwingMutexException(const char* failure, Operation operation) {
    try {
        operation();
    } catch (const std::system_error& e) {
        throw MutexException(std::string(failure) +
                             errorresources::systemErrorText(e.code().value()));
    }
}

}  // namespace

MutexImpl::~MutexImpl() {
    QM_ASSERT(_lockCount == 0, "A mutex was destroyed while it was locked.");
}

void MutexImpl::lock() {
    const std::uint32_t caller = thread::currentThreadId();
    throwingMutexException("Error locking the mutex: ", [this, caller] {
        std::unique_lock lock(_guard);
        if (_owner != caller) {
            _released.wait(lock, [this] { return _owner == 0; });
            _owner = caller;
        }
        ++_lockCount;
    });
}

void MutexImpl::unlock() {
    const std::uint32_t caller = thread::currentThreadId();
    std::uint32_t owner = 0;
    bool released = false;
    throwingMutexException("Error releasing the mutex: ", [&] {
        std::lock_guard lock(_guard);
        owner = _owner;
        if (owner != caller) return;
        released = --_lockCount == 0;
        if (released) _owner = 0;
    });
    if (owner != caller) throw MutexException(notOwnerMessage(owner, caller));
    if (released) _released.notify_one();
}

std::string MutexImpl::notOwnerMessage(std::uint32_t ownerId, std::uint32_t callerId) {
    return "Error unlocking the mutex. The thread calling unlock() was not the thread that "
           "lock()ed the mutex.\nThe thread that locked the mutex has id: " +
           std::to_string(ownerId) + "\nThe thread unlocking has id: " + std::to_string(callerId);
}

}  // namespace platform::mutex
