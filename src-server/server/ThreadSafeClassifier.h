#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "classifier/Classifier.h"
#include "classifier/UndoLog.h"
#include "io/filesystem/SaveFile.h"
#include "platform/mutex/ReaderWriterLock.h"

namespace norvale::quillmark {

// A classifier shared by every connection: readers hold its reader side for one read call, a
// write transaction its writer side from its first write call to its commit or rollback. Always
// held through a std::shared_ptr; the repository's map holds one reference and each running call
// one.
//
// Group commit: a transaction that appended its journal record without syncing it joins the
// group waiting for a sync (joinSync) and lets go of the writer side, so that the next writer
// applies and appends meanwhile; one sync then makes every record of the group durable
// (awaitSync), and each transaction answers after it. Readers wait while any record is not yet
// durable, so that none sees a change that a failed sync takes back: a failed sync cuts the
// journal back to its last durable record and takes back every change after it, newest first,
// and every transaction of the group fails. Readers waiting keep new writers from joining, so
// that a group drains and the readers go next; readers that keep arriving can hold writers off.
class ThreadSafeClassifier : public platform::mutex::ReaderWriterLock {
public:
    // Journal bytes that make the next commit store the classifier whole: set when a failed sync
    // could not cut the journal back.
    static constexpr std::uint64_t UnknownJournal = std::uint64_t(1) << 62;

    ThreadSafeClassifier(std::unique_ptr<classifier::Classifier> classifier,
                         std::int64_t lastAccess)
        : _lastAccess(lastAccess), _classifier(std::move(classifier)) {}

    // Read it only under the reader side, change it only under the writer side.
    classifier::Classifier& classifier() { return *_classifier; }
    const classifier::Classifier& classifier() const { return *_classifier; }

    // Seconds since the epoch of the last lookup; updated under the repository mutex, read
    // without it by nobody but the repository.
    std::int64_t lastAccess() const { return _lastAccess.load(std::memory_order_relaxed); }
    void setLastAccess(std::int64_t seconds) {
        _lastAccess.store(seconds, std::memory_order_relaxed);
    }

    // The size its file would have if it were written now: the file it was loaded from or stored
    // to, with the journal's records; 0 before its first commit.
    std::uint64_t storedBytes() const { return _storedBytes.load(std::memory_order_relaxed); }
    void setStoredBytes(std::uint64_t bytes) {
        _storedBytes.store(bytes, std::memory_order_relaxed);
    }

    // Its file was loaded or written whole: the journal starts anew on top of it, with header
    // (ClassifierJournal::header of the file).
    void stored(std::uint64_t fileBytes, std::string header) noexcept {
        setStoredBytes(fileBytes);
        _journalHeader = std::move(header);
        setJournalBytes(0);
    }
    // The header a new journal on top of its file starts with.
    const std::string& journalHeader() const { return _journalHeader; }
    // The length of its journal, durable or not; 0 when it has none.
    std::uint64_t journalBytes() const { return _journalBytes.load(std::memory_order_relaxed); }
    void setJournalBytes(std::uint64_t bytes) {
        _journalBytes.store(bytes, std::memory_order_relaxed);
    }

    // The version of the shared store it holds (see ClassifierStore); 0 before its first commit
    // and with the file store. Set under the writer side.
    std::uint64_t storeVersion() const { return _storeVersion.load(std::memory_order_relaxed); }
    void setStoreVersion(std::uint64_t version) {
        _storeVersion.store(version, std::memory_order_relaxed);
    }

    // Set by the repository's remove under the writer side; a write sequence that gets the
    // writer side afterwards must not store it again.
    void markRemoved() { _removed = true; }
    bool removed() const { return _removed; }

    // A classifier that create entered and whose write sequence has not committed yet: the
    // repository hands it to nobody else, so no other request reads or changes what may still
    // be taken out again.
    void setUncommitted(bool uncommitted) { _uncommitted.store(uncommitted); }
    bool uncommitted() const { return _uncommitted.load(); }

    // Under the writer side, before appending a record: makes room for joining the group (may
    // throw std::bad_alloc) and, when nothing waits for a sync, notes the journal and stored
    // sizes a failed sync goes back to.
    void reserveSync();
    // Under the writer side, after the record was appended: the changes noted in undo (changes
    // of them) wait for a sync; the stored size becomes storedBytes. Returns the ticket to wait
    // for. The caller then releases the writer side and calls awaitSync.
    std::uint64_t joinSync(classifier::UndoLog& undo, std::size_t changes,
                           std::uint64_t storedBytes) noexcept;
    // Without the writer side: returns once the record of ticket is durable. The first waiter
    // without a sync in flight runs sync for everyone written so far; when it throws, the journal
    // is cut back with cut(length) and every change since the last durable record is taken back
    // (the undo logs are emptied); then each waiter throws what sync threw. The last one out
    // compacts what the group left behind.
    void awaitSync(std::uint64_t ticket, const std::function<void()>& sync,
                   const std::function<void(std::uint64_t)>& cut);
    // Under the writer side: waits until no record waits for a sync. Should that sync fail, the
    // changes noted in own (newer than all of them) are taken back first, and this throws what
    // the sync threw; own may be null.
    void awaitDrained(classifier::UndoLog* own);
    // Takes the writer side when nobody holds either side and no record waits for its sync;
    // false (and nothing taken) otherwise. The caller releases it as usual.
    bool tryLockWriter();

protected:
    void lockReader() override;
    void unlockReader() override;
    void lockWriter() override;
    void unlockWriter() override;

private:
    struct Pending {
        classifier::UndoLog* undo;
        std::uint64_t ticket;
    };

    // With _state held (by lock) after a failed sync: waits until no writer changes anything,
    // cuts the journal back and takes the group back.
    void failGroup(std::unique_lock<std::mutex>& lock,
                   const std::function<void(std::uint64_t)>& cut);
    // With _state held and the writer side taken for it: takes back the changes of the group and
    // of an idle writer, newest first, once the journal was cut back (or could not be).
    void takeBack(bool cut) noexcept;
    [[noreturn]] void throwFailure() const;

    std::atomic<std::int64_t> _lastAccess;
    std::atomic<std::uint64_t> _storedBytes{0};
    std::atomic<std::uint64_t> _journalBytes{0};
    std::atomic<std::uint64_t> _storeVersion{0};
    std::atomic<bool> _uncommitted{false};
    std::string _journalHeader;  // guarded by the writer side
    bool _removed = false;       // guarded by the writer side
    std::unique_ptr<classifier::Classifier> _classifier;

    // guards everything below
    std::mutex _state;
    std::condition_variable _changed;
    int _readers = 0;
    int _readersWaiting = 0;
    bool _writer = false;      // a writer applies, appends, compacts or takes back
    bool _writerIdle = false;  // the writer waits in awaitDrained
    classifier::UndoLog* _idleUndo = nullptr;
    bool _idleFailed = false;
    bool _syncing = false;
    bool _takingBack = false;
    std::vector<Pending> _pending;  // oldest first
    std::uint64_t _written = 0;     // the last ticket given
    std::uint64_t _synced = 0;      // tickets up to it are durable
    std::uint64_t _failed = 0;      // tickets after _synced up to it failed
    // What a failed sync goes back to: the sizes before the oldest waiting record.
    std::uint64_t _durableJournal = 0, _durableStored = 0;
    std::size_t _backlog = 0;  // changes committed since the last compaction
    io::filesystem::SaveFileExceptionImpl _failure{""};  // what the last failed sync threw
    bool _failureWasMemory = false;
};

}  // namespace norvale::quillmark
