#pragma once

#include <atomic>
#include <cstddef>

namespace norvale::quillmark {

// The bytes of requests the connections hold, from their first byte until their execution has
// ended, with a bound shared by all of them: a connection whose next bytes would take the sum
// past the bound is refused while other connections hold bytes; a request alone is always held.
// Safe to use from any thread.
class HeldRequests {
public:
    // 0: no bound.
    explicit HeldRequests(std::size_t bound) : _bound(bound) {}
    HeldRequests(const HeldRequests&) = delete;
    HeldRequests& operator=(const HeldRequests&) = delete;

    std::size_t bound() const { return _bound; }
    std::size_t held() const { return _held.load(std::memory_order_relaxed); }

    // Counts `size` more bytes for a holder that holds `holding` already; false, counting
    // nothing, when that passes the bound and others hold bytes too.
    bool take(std::size_t holding, std::size_t size) noexcept {
        std::size_t held = _held.load(std::memory_order_relaxed);
        do {
            if (_bound != 0 && held != holding && held + size > _bound) return false;
        } while (!_held.compare_exchange_weak(held, held + size, std::memory_order_relaxed));
        return true;
    }
    void give(std::size_t size) noexcept { _held.fetch_sub(size, std::memory_order_relaxed); }

private:
    const std::size_t _bound;
    std::atomic<std::size_t> _held{0};
};

}  // namespace norvale::quillmark
