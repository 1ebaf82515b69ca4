#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/ClassifierFactory.h"
#include "platform/mutex/MutexImpl.h"
#include "posix/memory/MemoryStatus.h"
#include "server/ClassifierStore.h"
#include "server/JobDistribution.h"
#include "server/Metrics.h"

namespace norvale::quillmark {

// The repository on a ClassifierStore that other servers share: a classifier is its snapshot
// with its journal records replayed, kept in memory as a cache of the store and evicted by free
// memory, least recently used first.
//
// The cache never answers from a state older than the store's when the request came: every get
// of a cached classifier asks the store for the committed version and, when another server has
// committed since, replays the new records (or loads the new snapshot) under the classifier's
// writer side first. A write sequence takes the classifier's lock in the store in beginWrite,
// catches up there the same way, and commits in save (a snapshot, durable on return) or append
// and syncJournal (a record): one store commit per request or per group of requests, so a server
// that dies in the middle leaves nothing half-written.
//
// Group commit: the store's lock of a classifier is held by a group that outlives one write
// sequence. A sequence that begins while the group holds records waiting for their sync joins
// it, appends its record, lets go of the writer side and waits (ThreadSafeClassifier::awaitSync);
// one commit in syncJournal then stores every record appended so far. The group lets go of the
// lock once no sequence runs in it and nothing waits for a commit; a group older than
// GroupLifetime takes no new sequences, so that writers on other servers get their turn.
//
// Reads of one cached classifier that arrive together share the store's answer about its version:
// one query runs at a time, and a read uses the first one that started after it arrived, so it
// still sees every commit acknowledged before that.
//
// The store key of a classifier is its name lower-cased: the request's key without the
// classifier root's prefix and without ".dat". Messages name the request's key, as the file
// store's do.
//
// Lock order: a classifier's writer side, the repository mutex; the store's lock of a key is
// taken with the writer side held and without the repository mutex. The collaborators are not
// owned and must outlive the repository.
class StoreJobDistribution : public JobDistribution {
public:
    StoreJobDistribution(const classifier::ClassifierFactory* classifierFactory,
                         const platform::memory::MemoryStatus* memoryStatus, ClassifierStore* store,
                         std::string keyPrefix, Metrics* metrics);
    StoreJobDistribution(const StoreJobDistribution&) = delete;
    StoreJobDistribution& operator=(const StoreJobDistribution&) = delete;

    std::shared_ptr<ThreadSafeClassifier> create(const std::string& key) override;
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) override;
    // Without asking the store for the version: beginWrite catches up under the store's lock.
    std::shared_ptr<ThreadSafeClassifier> getForWriting(const std::string& key) override;
    // As of the store's last commit: asks for its version unless a group holds the lock.
    std::uint64_t size(const std::string& key) override;
    // Commits bytes as the classifier's new snapshot (its first one after create).
    void save(const std::string& key, std::string_view bytes) override;
    // Adds record to the commit of the group; syncJournal commits it.
    bool append(const std::string& key, ThreadSafeClassifier& classifier,
                std::string_view record) override;
    // Commits the records of classifier's group.
    void syncJournal(const std::string& key, ThreadSafeClassifier& classifier) override;
    void cutJournal(const std::string& key, ThreadSafeClassifier& classifier,
                    std::uint64_t length) override;
    void remove(const std::string& key) override;
    void beginWrite(const std::string& key, ThreadSafeClassifier& classifier,
                    bool creating) override;
    void endWrite(const std::string& key) noexcept override;
    // Forgets a created classifier that was never committed; the store is left alone, since
    // another server may have created the name meanwhile.
    void discardCreated(const std::string& key) override;
    Metrics::Repository usage() override;
    // A commit of another server announced by the store: a classifier in memory that is older is
    // caught up now, unless a request holds it (then its next get does).
    void follow(const std::string& storeKey, std::uint64_t version);
    // The same for every classifier in memory, asking the store for its version: for the commits
    // made while nobody listened.
    void followAll();

    // The store key of a request's key.
    std::string storeKey(std::string_view key) const;
    // The store key of a classifier file's path below the classifier root ("Sub/News.dat").
    static std::string nameKey(std::string_view name);

    static constexpr std::chrono::milliseconds GroupLifetime{20};

private:
    // The version queries of one key: the number started and finished, and the answer of the
    // last one to finish.
    struct VersionQueries {
        std::mutex mutex;  // guards the rest
        std::condition_variable finishedOne;
        std::uint64_t started = 0;
        std::uint64_t finished = 0;
        bool running = false;
        std::uint64_t version = 0;
        std::optional<ClassifierStoreException> failure;
        bool outOfMemory = false;
        std::size_t users = 0;  // guarded by the repository mutex
    };

    // The writers of one classifier holding its lock in the store.
    struct Group {
        std::mutex mutex;                                           // guards the rest
        std::unique_ptr<ClassifierStore::Transaction> transaction;  // null once ended
        ThreadSafeClassifier* classifier;
        std::chrono::steady_clock::time_point began;
        bool inSequence = true;            // a write sequence runs in it
        std::vector<std::string> records;  // appended, waiting for the next commit
        bool committing = false;           // a commit without the mutex uses the transaction
        bool failed = false;               // a snapshot failed to commit: it ends with its sequence
    };

    static ClassifierNotFoundException notFound(const std::string& key);
    // get, catching a cached classifier up with the store's commits or not.
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key, bool catchUp);
    // Loads the classifier from the store, making room first; throws when it does not exist.
    std::shared_ptr<ThreadSafeClassifier> load(const std::string& storeKey, const std::string& key);
    // With the writer side held: applies what the store committed after the classifier's
    // version. A failure part-way forgets the classifier, so that the next get loads it anew.
    void apply(const std::string& storeKey, const ClassifierStore::Stored& stored,
               ThreadSafeClassifier& classifier);
    // With its writer side held: forgets the classifier when it is the key's in memory, and
    // marks it removed.
    void forget(const std::string& storeKey, ThreadSafeClassifier& classifier);
    // The committed version of the key, from a query that started after this call began.
    std::uint64_t committedVersion(const std::string& storeKey);
    // The group of the classifier, null when none holds its lock.
    std::shared_ptr<Group> group(const ThreadSafeClassifier& classifier);
    // The group of the write sequence running on the request's key.
    std::shared_ptr<Group> sequence(const std::string& key);
    // Lets go of the group's lock, taking back what it did not commit; needs its mutex.
    void end(Group& group) noexcept;
    std::shared_ptr<ThreadSafeClassifier> newClassifier() const;
    // The classifier of the key in memory, or evicted but still held by a running call (then
    // entered again); null when neither. Needs the repository mutex.
    std::shared_ptr<ThreadSafeClassifier> inMemory(const std::string& storeKey);
    void makeRoom(std::uint64_t need);

    const classifier::ClassifierFactory* _classifierFactory;
    const platform::memory::MemoryStatus* _memoryStatus;
    ClassifierStore* _store;
    const std::string _keyPrefix;
    Metrics* _metrics;

    // guards the maps
    platform::mutex::MutexImpl _mutex;
    std::map<std::string, std::shared_ptr<ThreadSafeClassifier>> _classifiers;
    std::map<std::string, std::weak_ptr<ThreadSafeClassifier>> _evicted;
    // By classifier object: an object forgotten while requests still wait for its commit may
    // have a group beside the group of the object that replaced it. A group ends before its
    // object: the sequence in it and the requests waiting for its commit hold the object.
    std::map<const ThreadSafeClassifier*, std::shared_ptr<Group>> _groups;
    // By store key, while reads wait for them.
    std::map<std::string, std::shared_ptr<VersionQueries>> _versionQueries;
    // By the request's key as the write sequence spells it: one classifier has one write
    // sequence at a time, whatever the spelling.
    std::map<std::string, std::shared_ptr<Group>> _sequences;
};

}  // namespace norvale::quillmark
