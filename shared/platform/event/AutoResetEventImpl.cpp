#include "platform/event/AutoResetEventImpl.h"

#include "platform/event/EventFailure.h"

namespace platform::event {

AutoResetEventImpl::AutoResetEventImpl(bool initiallySignalled) : _signalled(initiallySignalled) {}

void AutoResetEventImpl::set() {
    throwingEventException("Failed setting the event to signaled state using 'SetEvent'. ", [this] {
        std::lock_guard lock(_guard);
        _signalled = true;
        _changed.notify_one();
    });
}

void AutoResetEventImpl::reset() {
    throwingEventException("Failed resetting the event to non-signaled state using 'ResetEvent'. ",
                           [this] {
                               std::lock_guard lock(_guard);
                               _signalled = false;
                           });
}

void AutoResetEventImpl::wait() {
    throwingEventException("Failed waiting for event using 'WaitForSingleObject'. ", [this] {
        std::unique_lock lock(_guard);
        _changed.wait(lock, [this] { return _signalled; });
        _signalled = false;
    });
}

}  // namespace platform::event
