#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/event/Event.h"

namespace platform::event {

// Automatic-reset event: a set releases exactly one waiter (or the next thread to wait), and the
// wait that consumes the signal resets it. Used as a token that one holder at a time may own.
class AutoResetEventImpl : public Event {
public:
    explicit AutoResetEventImpl(bool initiallySignalled);
    AutoResetEventImpl(const AutoResetEventImpl&) = delete;
    AutoResetEventImpl& operator=(const AutoResetEventImpl&) = delete;

    void set() override;
    void reset() override;
    void wait() override;

private:
    std::mutex _guard;  // guards _signalled
    std::condition_variable _changed;
    bool _signalled;
};

}  // namespace platform::event
