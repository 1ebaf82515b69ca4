#pragma once

namespace platform::thread {

// Something that begins running on a thread of its own. Called by the thread's owner.
class Startable {
public:
    virtual ~Startable() = default;

    virtual void start() = 0;
};

}  // namespace platform::thread
