#pragma once

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/WriterLock.h"

namespace platform::mutex {

// Holds the writer side of a reader/writer lock for its own lifetime. A transaction keeps one
// (through a shared pointer) from its first write call until commit or rollback.
class WriterAutoLock : public AutoLock<WriterLock> {
public:
    using AutoLock::AutoLock;
};

}  // namespace platform::mutex
