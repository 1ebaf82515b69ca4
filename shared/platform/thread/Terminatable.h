#pragma once

namespace platform::thread {

// Ends a running thread from outside. A last resort, never used on a normal path: the thread
// gets no chance to release what it holds.
class Terminatable {
public:
    virtual ~Terminatable() = default;

    virtual void terminate() = 0;
};

}  // namespace platform::thread
