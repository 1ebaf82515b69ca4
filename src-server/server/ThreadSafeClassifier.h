#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "classifier/Classifier.h"
#include "platform/mutex/ReaderWriterLockImpl.h"

namespace norvale::quillmark {

// A classifier shared by every connection: readers hold its reader side for one read call, a
// write transaction its writer side from its first write call to commit or rollback. Always held
// through a std::shared_ptr; the repository's map holds one reference and each running call one.
class ThreadSafeClassifier : public platform::mutex::ReaderWriterLockImpl {
public:
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
    // The length of its journal; 0 when it has none.
    std::uint64_t journalBytes() const { return _journalBytes.load(std::memory_order_relaxed); }
    void setJournalBytes(std::uint64_t bytes) {
        _journalBytes.store(bytes, std::memory_order_relaxed);
    }

    // Set by the repository's remove under the writer side; a write sequence that gets the
    // writer side afterwards must not store it again.
    void markRemoved() { _removed = true; }
    bool removed() const { return _removed; }

private:
    std::atomic<std::int64_t> _lastAccess;
    std::atomic<std::uint64_t> _storedBytes{0};
    std::atomic<std::uint64_t> _journalBytes{0};
    std::string _journalHeader;  // guarded by the writer side
    bool _removed = false;  // guarded by the writer side
    std::unique_ptr<classifier::Classifier> _classifier;
};

}  // namespace norvale::quillmark
