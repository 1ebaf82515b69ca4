#include "server/ThreadSafeClassifier.h"

#include <new>

#include "exceptions/Exception.h"
#include "io/filesystem/SaveFile.h"

namespace norvale::quillmark {

void ThreadSafeClassifier::lockReader() {
    std::unique_lock lock(_state);
    ++_readersWaiting;
    _changed.wait(lock, [this] { return !_writer && _pending.empty(); });
    --_readersWaiting;
    ++_readers;
}

void ThreadSafeClassifier::unlockReader() {
    std::lock_guard lock(_state);
    if (--_readers == 0) _changed.notify_all();
}

void ThreadSafeClassifier::lockWriter() {
    std::unique_lock lock(_state);
    // Waiting readers close the group: it drains, and they go before the next writer.
    _changed.wait(lock, [this] {
        return !_writer && _readers == 0 && (_readersWaiting == 0 || _pending.empty());
    });
    _writer = true;
}

bool ThreadSafeClassifier::tryLockWriter() {
    std::lock_guard lock(_state);
    if (_writer || _readers != 0 || !_pending.empty()) return false;
    _writer = true;
    return true;
}

void ThreadSafeClassifier::unlockWriter() {
    std::lock_guard lock(_state);
    _writer = false;
    _changed.notify_all();
}

void ThreadSafeClassifier::reserveSync() {
    std::lock_guard lock(_state);
    _pending.reserve(_pending.size() + 1);
    // With nothing waiting, everything written so far is durable.
    if (_pending.empty()) {
        _durableJournal = journalBytes();
        _durableStored = storedBytes();
    }
}

std::uint64_t ThreadSafeClassifier::joinSync(classifier::UndoLog& undo, std::size_t changes,
                                             std::uint64_t stored) noexcept {
    std::lock_guard lock(_state);
    _pending.push_back(Pending{&undo, ++_written});
    _backlog += changes;
    setStoredBytes(stored);
    return _written;
}

void ThreadSafeClassifier::awaitSync(std::uint64_t ticket, const std::function<void()>& sync,
                                     const std::function<void(std::uint64_t)>& cut) {
    std::unique_lock lock(_state);
    while (ticket > _synced) {
        if (ticket <= _failed) throwFailure();
        if (_syncing) {
            _changed.wait(lock);
            continue;
        }
        _syncing = true;
        const std::uint64_t target = _written;
        lock.unlock();
        bool synced = false;
        // Copying the message allocates nothing.
        io::filesystem::SaveFileExceptionImpl failure("");
        bool memory = false;
        try {
            sync();
            synced = true;
        } catch (const exceptions::Exception& e) {
            failure = io::filesystem::SaveFileExceptionImpl(e.what());
        } catch (const std::bad_alloc&) {
            memory = true;
        }
        lock.lock();
        if (synced) {
            _synced = target;
            std::erase_if(_pending, [target](const Pending& p) { return p.ticket <= target; });
        } else {
            _failure = failure;
            _failureWasMemory = memory;
            failGroup(lock, cut);
        }
        // Cleared only now, so that no waiter syncs records that are being taken back.
        _syncing = false;
        _changed.notify_all();
    }
    // The last one out compacts what the group left behind, as one writer.
    if (_pending.empty() && !_writer && _backlog != 0) {
        const std::size_t changes = std::exchange(_backlog, 0);
        _writer = true;
        lock.unlock();
        try {
            _classifier->compactBacklog(changes);
        } catch (const std::bad_alloc&) {
            // Reads see the same counts uncompacted; a later commit tries again.
        }
        lock.lock();
        _writer = false;
        _changed.notify_all();
    }
}

void ThreadSafeClassifier::failGroup(std::unique_lock<std::mutex>& lock,
                                     const std::function<void(std::uint64_t)>& cut) {
    // Nobody else may change the classifier or its journal meanwhile; a writer waiting in
    // awaitDrained changes nothing.
    _changed.wait(lock, [this] { return !_writer || _writerIdle; });
    _takingBack = true;
    const bool idle = _writer;
    _writer = true;
    lock.unlock();
    bool wasCut = true;
    try {
        cut(_durableJournal);
    } catch (...) {
        wasCut = false;
    }
    lock.lock();
    takeBack(wasCut);
    _writer = idle;
    _takingBack = false;
}

void ThreadSafeClassifier::takeBack(bool cut) noexcept {
    if (_idleUndo != nullptr) {
        _classifier->undo(*_idleUndo);
        _idleFailed = true;
    }
    for (auto pending = _pending.rbegin(); pending != _pending.rend(); ++pending) {
        _classifier->undo(*pending->undo);
    }
    _pending.clear();
    _failed = _written;
    setJournalBytes(cut ? _durableJournal : UnknownJournal);
    setStoredBytes(_durableStored);
}

void ThreadSafeClassifier::awaitDrained(classifier::UndoLog* own) {
    std::unique_lock lock(_state);
    _writerIdle = true;
    _idleUndo = own != nullptr && !own->empty() ? own : nullptr;
    _changed.notify_all();  // a failed sync may wait for the writer to stand still
    _changed.wait(lock, [this] { return _pending.empty() && !_takingBack; });
    _writerIdle = false;
    _idleUndo = nullptr;
    if (std::exchange(_idleFailed, false)) throwFailure();
}

void ThreadSafeClassifier::throwFailure() const {
    if (_failureWasMemory) throw std::bad_alloc();
    throw io::filesystem::SaveFileExceptionImpl(_failure);
}

}  // namespace norvale::quillmark
