#pragma once

// Keeps up to `parallel` requests in flight at once and hands their answers back in the order the
// requests were given, whatever order the server answers them in. Each request goes through
// `exchange` on a worker thread of its own (with a window of 1 on the caller's thread, one request
// after the other). At most `parallel` requests and answers are held: submit() is refused while
// the window is full, and the caller takes the oldest answer first. Used by one thread; the
// workers belong to the window.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/Response.h"

namespace norvale::quillmark::client {

class RequestWindow {
public:
    // Sends one request and returns its answer, or throws; called on the workers.
    using Exchange = std::function<Response(const std::string& request)>;

    RequestWindow(std::size_t parallel, Exchange exchange);
    // Waits for the requests in flight (their answers are dropped), then ends the workers.
    ~RequestWindow();
    RequestWindow(const RequestWindow&) = delete;
    RequestWindow& operator=(const RequestWindow&) = delete;

    // Requests given and not taken yet.
    std::size_t waiting() const { return _slots.size(); }
    bool full() const { return _slots.size() >= _parallel; }

    // Starts `request`; the window must not be full.
    void submit(std::string request);
    // The answer to the oldest request not taken yet, once it is there; rethrows what its
    // exchange threw. The window must not be empty.
    Response take();

private:
    struct Slot {
        std::string request;
        bool started = false;
        bool done = false;
        Response response;
        std::exception_ptr error;
    };

    void work();
    static void run(const Exchange& exchange, Slot& slot);

    const std::size_t _parallel;
    const Exchange _exchange;
    std::mutex _mutex;
    std::condition_variable _changed;
    // Guarded by _mutex: the slots in the order given (a worker keeps a reference to the slot it
    // works on; only take() removes a slot, and only a finished one) and the stop flag.
    std::deque<Slot> _slots;
    bool _stopping = false;
    std::vector<std::thread> _workers;
};

}  // namespace norvale::quillmark::client
