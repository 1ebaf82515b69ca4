#pragma once

namespace platform::event {

// A signal that threads wait for. Implementations are shared by any number of threads: set,
// reset and wait may be called from any of them at any time. The owner of the object must keep
// it alive until no thread waits on it any more.
class Event {
public:
    virtual ~Event() = default;

    virtual void set() = 0;
    virtual void reset() = 0;
    // Waits without time limit.
    virtual void wait() = 0;
};

}  // namespace platform::event
