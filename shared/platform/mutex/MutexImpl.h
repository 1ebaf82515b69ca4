#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/mutex/Mutex.h"

namespace platform::mutex {

// Recursive mutex that knows its owner: the holding thread may lock it again and must unlock it
// as often; an unlock by any other thread throws MutexException naming both thread ids.
// Destroying it while it is locked is a broken invariant (assertion).
class MutexImpl : public Mutex {
public:
    MutexImpl() = default;
    MutexImpl(const MutexImpl&) = delete;
    MutexImpl& operator=(const MutexImpl&) = delete;
    ~MutexImpl() override;

    void lock() override;
    void unlock() override;

    // The text of a refused unlock; shared with the other owner-checked locks.
    static std::string notOwnerMessage(std::uint32_t ownerId, std::uint32_t callerId);

private:
    std::mutex _guard;  // guards _owner and _lockCount
    std::condition_variable _released;
    std::uint32_t _owner = 0;  // thread id of the holder, 0 when free
    std::uint32_t _lockCount = 0;
};

}  // namespace platform::mutex
