#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/event/AutoResetEventImpl.h"
#include "platform/event/EventImpl.h"
#include "platform/mutex/MutexImpl.h"
#include "platform/mutex/ReaderWriterLock.h"

namespace platform::mutex {

// Readers share, writers exclude everyone; readers that keep arriving can hold writers off.
// The "mutex event" is a token owned either by one writer or by the group of readers: the first
// reader takes it for the group and opens the reader event, the last one closes the reader event
// and hands the token back. Writers first queue on the writer mutex, so at most one writer
// competes with the readers for the token. A writer must unlock on the thread that locked.
class ReaderWriterLockImpl : public ReaderWriterLock {
public:
    ReaderWriterLockImpl();
    ReaderWriterLockImpl(const ReaderWriterLockImpl&) = delete;
    ReaderWriterLockImpl& operator=(const ReaderWriterLockImpl&) = delete;

protected:
    void lockReader() override;
    void unlockReader() override;
    void lockWriter() override;
    void unlockWriter() override;

private:
    std::atomic<std::int32_t> _counter{-1};  // readers inside or entering, minus one
    // Makes "first reader takes the token and opens the reader event" and "last reader closes the
    // reader event and returns the token" indivisible with respect to each other. Without it a
    // reader arriving just as the last one leaves can pass the still-open reader event while the
    // token goes to a writer.
    std::mutex _readerTransitions;
    event::EventImpl _readerEvent;                // manual reset, open while readers own the token
    event::AutoResetEventImpl _mutexEvent{true};  // the token, initially free
    MutexImpl _writerMutex;
};

}  // namespace platform::mutex
