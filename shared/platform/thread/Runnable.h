#pragma once

namespace platform::thread {

// The body of a thread. The thread calls run once, on itself; the Runnable must outlive the join.
class Runnable {
public:
    virtual ~Runnable() = default;

    virtual void run() = 0;
};

}  // namespace platform::thread
