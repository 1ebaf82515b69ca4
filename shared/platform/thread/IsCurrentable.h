#pragma once

namespace platform::thread {

// Tells whether the calling thread is this thread. May be called from any thread once started.
class IsCurrentable {
public:
    virtual ~IsCurrentable() = default;

    virtual bool isCurrent() const = 0;
};

}  // namespace platform::thread
