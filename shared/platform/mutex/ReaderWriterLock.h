#pragma once

#include "platform/mutex/ReaderLock.h"
#include "platform/mutex/WriterLock.h"

namespace platform::mutex {

// A lock with a shared reader side and an exclusive writer side. Both sides name their operations
// lock and unlock, so an implementation cannot override them directly; it implements the four
// operations below, and the object is used as a ReaderLock* or a WriterLock*.
class ReaderWriterLock;

namespace detail {

class ReaderSide : public ReaderLock {
public:
    void lock() final { lockReader(); }
    void unlock() final { unlockReader(); }

protected:
    virtual void lockReader() = 0;
    virtual void unlockReader() = 0;
};

class WriterSide : public WriterLock {
public:
    void lock() final { lockWriter(); }
    void unlock() final { unlockWriter(); }

protected:
    virtual void lockWriter() = 0;
    virtual void unlockWriter() = 0;
};

}  // namespace detail

class ReaderWriterLock : public detail::ReaderSide, public detail::WriterSide {
public:
    ReaderLock* reader() { return this; }
    WriterLock* writer() { return this; }
};

}  // namespace platform::mutex
