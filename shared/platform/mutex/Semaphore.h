#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace platform::mutex {

// Counting semaphore of this process, shared by any number of threads. The count never exceeds
// MaximumCount: a release that would pass it, or that is not positive, is ignored as a whole.
// Only unnamed semaphores exist here; a name other than Unnamed is refused with a
// MutexException, because nothing in this system shares a semaphore between processes.
class Semaphore {
public:
    static constexpr const char* Unnamed = "Non shared semaphore";
    static constexpr std::int32_t MaximumCount = 2147483647;

    // The initial count must fit a signed 32-bit value (util::ConverterException otherwise).
    Semaphore(std::uint32_t initialCount, std::string_view name);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void release(std::int32_t count);
    // Waits without time limit until the count is positive, then takes one.
    void wait();

private:
    std::mutex _guard;  // guards _count
    std::condition_variable _available;
    std::int32_t _count;
};

}  // namespace platform::mutex
