#pragma once

#include <memory>

#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"

namespace platform::thread {

// Makes threads (not started, empty name) that run a given Runnable. The caller owns the thread.
// Factories are immutable and may be used from any thread.
class ThreadFactory {
public:
    virtual ~ThreadFactory() = default;

    virtual std::unique_ptr<Thread> create(Runnable* runnable) const = 0;
};

}  // namespace platform::thread
