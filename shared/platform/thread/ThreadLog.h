#pragma once

namespace platform::thread {

// Where a logging thread reports an exception that escaped its body, just before the process
// ends. Called from the failing thread; the implementation must be safe for any thread.
class ThreadLog {
public:
    virtual ~ThreadLog() = default;

    virtual void report(const char* text) = 0;
};

}  // namespace platform::thread
