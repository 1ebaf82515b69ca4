#pragma once

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/ReaderLock.h"

namespace platform::mutex {

// Holds the reader side of a reader/writer lock for its own lifetime.
class ReaderAutoLock : public AutoLock<ReaderLock> {
public:
    using AutoLock::AutoLock;
};

}  // namespace platform::mutex
