#include "client/RequestWindow.h"

#include <utility>

namespace norvale::quillmark::client {

RequestWindow::RequestWindow(std::size_t parallel, Exchange exchange)
    : _parallel(parallel < 1 ? 1 : parallel), _exchange(std::move(exchange)) {
    if (_parallel == 1) return;
    _workers.reserve(_parallel);
    for (std::size_t i = 0; i < _parallel; ++i) _workers.emplace_back([this] { work(); });
}

RequestWindow::~RequestWindow() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _changed.notify_all();
    for (std::thread& worker : _workers) worker.join();
}

void RequestWindow::submit(std::string request) {
    if (_parallel == 1) {
        Slot& slot = _slots.emplace_back();
        slot.request = std::move(request);
        run(_exchange, slot);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _slots.emplace_back().request = std::move(request);
    }
    _changed.notify_all();
}

Response RequestWindow::take() {
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [this] { return _slots.front().done; });
    Slot slot = std::move(_slots.front());
    _slots.pop_front();
    lock.unlock();
    if (slot.error) std::rethrow_exception(slot.error);
    return std::move(slot.response);
}

void RequestWindow::work() {
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
        Slot* next = nullptr;
        // Once stopping, requests not started yet stay unsent.
        _changed.wait(lock, [&] {
            if (_stopping) return true;
            for (Slot& slot : _slots) {
                if (!slot.started) {
                    next = &slot;
                    return true;
                }
            }
            return false;
        });
        if (next == nullptr) return;
        next->started = true;
        Slot finished;
        finished.request = std::move(next->request);
        lock.unlock();
        run(_exchange, finished);
        lock.lock();
        next->response = std::move(finished.response);
        next->error = finished.error;
        next->done = true;
        _changed.notify_all();
    }
}

void RequestWindow::run(const Exchange& exchange, Slot& slot) {
    try {
        slot.response = exchange(slot.request);
    } catch (...) {
        slot.error = std::current_exception();
    }
    slot.request.clear();
    slot.request.shrink_to_fit();
    slot.done = true;
}

}  // namespace norvale::quillmark::client
