#include "platform/mutex/Semaphore.h"

#include <string>

#include "platform/mutex/MutexException.h"
#include "util/Converter.h"

namespace platform::mutex {

Semaphore::Semaphore(std::uint32_t initialCount, std::string_view name)
    : _count(util::toSigned32(initialCount)) {
    if (name != Unnamed) {
        throw MutexException("Error creating the semaphore '" + std::string(name) +
                             "'. Named semaphores are not supported; use \"" + Unnamed + "\".");
    }
}

void Semaphore::release(std::int32_t count) {
    {
        std::lock_guard lock(_guard);
        if (count <= 0 || count > MaximumCount - _count) return;
        _count += count;
    }
    if (count == 1) {
        _available.notify_one();
    } else {
        _available.notify_all();
    }
}

void Semaphore::wait() {
    std::unique_lock lock(_guard);
    _available.wait(lock, [this] { return _count > 0; });
    --_count;
}

}  // namespace platform::mutex
