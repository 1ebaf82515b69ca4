#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

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
// catches up there the same way, and commits in save or append: one store transaction per
// request, so a server that dies in the middle leaves nothing half-written. Every commit is
// durable when save or append returns.
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
                         const platform::memory::MemoryStatus* memoryStatus,
                         ClassifierStore* store, std::string keyPrefix, Metrics* metrics);
    StoreJobDistribution(const StoreJobDistribution&) = delete;
    StoreJobDistribution& operator=(const StoreJobDistribution&) = delete;

    std::shared_ptr<ThreadSafeClassifier> create(const std::string& key) override;
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) override;
    std::uint64_t size(const std::string& key) override;
    // Commits bytes as the classifier's new snapshot (its first one after create).
    void save(const std::string& key, std::string_view bytes) override;
    // Commits record; always durable on return.
    bool append(const std::string& key, ThreadSafeClassifier& classifier,
                std::string_view record) override;
    void syncJournal(const std::string& key) override;
    void cutJournal(const std::string& key, std::uint64_t length) override;
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

private:
    // A write sequence between beginWrite and endWrite.
    struct Write {
        std::unique_ptr<ClassifierStore::Transaction> transaction;
        ThreadSafeClassifier* classifier;
    };

    static ClassifierNotFoundException notFound(const std::string& key);
    // Loads the classifier from the store, making room first; throws when it does not exist.
    std::shared_ptr<ThreadSafeClassifier> load(const std::string& storeKey,
                                               const std::string& key);
    // With the writer side held: applies what the store committed after the classifier's
    // version. A failure part-way forgets the classifier, so that the next get loads it anew.
    void apply(const std::string& storeKey, const ClassifierStore::Stored& stored,
               ThreadSafeClassifier& classifier);
    // With its writer side held: forgets the classifier when it is the key's in memory, and
    // marks it removed.
    void forget(const std::string& storeKey, ThreadSafeClassifier& classifier);
    // The write sequence begun on the request's key.
    Write& write(const std::string& storeKey);
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
    // By the request's key as the write sequence spells it: one classifier has one write
    // sequence at a time, whatever the spelling.
    std::map<std::string, Write> _writes;
};

}  // namespace norvale::quillmark
