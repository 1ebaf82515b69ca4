#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/event/Event.h"

namespace platform::event {

// Manual-reset event, initially not signalled: once set it releases every waiter, present and
// future, until it is reset.
class EventImpl : public Event {
public:
    EventImpl() = default;
    EventImpl(const EventImpl&) = delete;
    EventImpl& operator=(const EventImpl&) = delete;

    void set() override;
    void reset() override;
    void wait() override;

private:
    std::mutex _guard;  // guards _signalled
    std::condition_variable _changed;
    bool _signalled = false;
};

}  // namespace platform::event
