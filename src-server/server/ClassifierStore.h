#pragma once

// Where classifiers are kept between processes: for each key (the lower-cased classifier name) a
// snapshot (the bytes of a classifier file) and the journal records committed since, in order.
// Snapshots and records are opaque bytes here; the repository writes and replays them. Every
// change goes through a Transaction, which holds the key's writer lock across processes for its
// whole life, so servers sharing one store never interleave their writes on a classifier.
// Implementations say which threads may call them; a Transaction or a Changes object belongs to
// one thread at a time.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exceptions/Exception.h"

namespace norvale::quillmark {

// A store that cannot be reached, refuses an operation, or lost its connection.
class ClassifierStoreException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class ClassifierStore {
public:
    // What a load returns. Versions grow with every commit on any key and are never reused, so a
    // version names one state of one classifier even across a remove and a new create.
    struct Stored {
        std::uint64_t version = 0;
        // Empty when the snapshot of the version the load started from still stands: then records
        // holds only the records committed after that version.
        std::optional<std::string> snapshot;
        std::vector<std::string> records;

        bool operator==(const Stored&) const = default;
    };

    // A notification that a commit on key produced version (0: the classifier was removed).
    struct Change {
        std::string key;
        std::uint64_t version = 0;

        bool operator==(const Change&) const = default;
    };

    // A write transaction on one key, holding its writer lock from its creation to its end. The
    // changes become visible and durable together at commit; destroying it without a commit takes
    // them all back.
    class Transaction {
    public:
        virtual ~Transaction() = default;

        // The committed version under the lock, 0 when the classifier does not exist.
        virtual std::uint64_t version() const = 0;
        // The committed state under the lock, as ClassifierStore::load.
        virtual std::optional<Stored> load(std::uint64_t since) = 0;
        // A new classifier with snapshot as its whole content; false (and nothing done) when the
        // classifier exists.
        [[nodiscard]] virtual bool create(std::string_view snapshot) = 0;
        // Appends records after the existing ones, in order.
        virtual void append(std::span<const std::string> records) = 0;
        // Replaces the snapshot by one that folds in every record, and drops the records.
        virtual void checkpoint(std::string_view snapshot) = 0;
        // Deletes the classifier; false when it did not exist.
        virtual bool remove() = 0;
        // Makes every change durable at once and ends the transaction; returns the new version (0
        // after a remove, the old one when nothing changed). When it throws, nothing changed,
        // unless its message says the commit may have been applied (a store that lost the
        // commit's answer and could not learn the outcome): then version() of a new transaction
        // tells.
        virtual std::uint64_t commit() = 0;
        // Commits as commit does, but keeps the lock and goes on as a new transaction, so that
        // the writer may commit again without another writer coming in between.
        virtual std::uint64_t commitKeepingLock() = 0;
    };

    // Commits seen on a connection of its own, from the call of listen on.
    class Changes {
    public:
        virtual ~Changes() = default;

        // The changes committed since the last call, waiting up to timeout for the first one;
        // empty when none arrived. Throws ClassifierStoreException when the connection is lost:
        // changes may have been missed, so the caller checks versions and listens anew.
        virtual std::vector<Change> wait(std::chrono::milliseconds timeout) = 0;
    };

    virtual ~ClassifierStore() = default;

    // The committed version, 0 when the classifier does not exist; cheap.
    virtual std::uint64_t version(const std::string& key) = 0;
    bool exists(const std::string& key) { return version(key) != 0; }
    // Bytes of the snapshot and its records, 0 when the classifier does not exist.
    virtual std::uint64_t size(const std::string& key) = 0;
    // The committed snapshot and records, empty when the classifier does not exist. A caller
    // that holds version since asks only for what came after it; since 0 loads everything. A
    // store may always return the snapshot.
    virtual std::optional<Stored> load(const std::string& key, std::uint64_t since = 0) = 0;
    // Waits for the writer lock of key and starts a transaction under it.
    virtual std::unique_ptr<Transaction> write(const std::string& key) = 0;
    // Starts reporting commits; null when the store cannot report them (callers then check
    // versions).
    virtual std::unique_ptr<Changes> listen() = 0;
};

}  // namespace norvale::quillmark
