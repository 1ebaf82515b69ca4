#pragma once

#include <cstddef>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "classifier/ClassifierFactory.h"
#include "platform/mutex/MutexImpl.h"
#include "posix/memory/MemoryStatus.h"
#include "server/FileClassifierStore.h"
#include "server/JobDistribution.h"
#include "server/Log.h"
#include "server/Metrics.h"

namespace norvale::quillmark {

// The repository on a folder of classifier files (FileClassifierStore), kept in a map from file
// key to shared classifier. A file key is the request's key with its file-name part (after the
// last '/') lower-cased: the path of the classifier file, and the same text for every spelling of
// one name. The root part keeps its case, because Linux paths are case-sensitive.
//
// Lock order: a classifier's writer lock, the repository mutex, then the store's named lock.
// The repository takes a writer lock only without the repository mutex: remove waits for the
// write sequence on the classifier to end, so that no commit writes the file back after it; the
// orderly stop's checkpoint waits for it too; the fold of an evicted classifier takes it only when
// it is free at once, since a writer holding it may wait for the load the eviction makes room for.
//
// A cold load reads and parses its file without the repository mutex, so requests for other
// classifiers go on meanwhile. Its placeholder in _loading makes every other get of the same file
// wait for its outcome (the classifier or its failure), and create and remove of that file wait
// for it to end before they look at the file.
//
// An evicted classifier that a running call still holds is remembered (weakly): a get or create
// while it lives enters that object again instead of loading or making a second one, so two
// write sequences on one classifier always meet at its one writer lock and no commit is lost.
//
// A classifier's journal (see ClassifierJournal) lies beside its file. It is written only while
// the file exists: remove deletes the file first and the journal second, and create deletes a
// journal left without its file before the new classifier's file is written.
//
// The collaborators are not owned and must outlive the repository.
class JobDistributionImpl : public JobDistribution {
public:
    JobDistributionImpl(const classifier::ClassifierFactory* classifierFactory,
                        const platform::memory::MemoryStatus* memoryStatus,
                        const FileClassifierStore* store, Metrics* metrics, Log* log);
    JobDistributionImpl(const JobDistributionImpl&) = delete;
    JobDistributionImpl& operator=(const JobDistributionImpl&) = delete;

    std::shared_ptr<ThreadSafeClassifier> create(const std::string& key) override;
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) override;
    std::uint64_t size(const std::string& key) override;
    void save(const std::string& key, std::string_view bytes) override;
    bool append(const std::string& key, ThreadSafeClassifier& classifier,
                std::string_view record) override;
    void syncJournal(const std::string& key, ThreadSafeClassifier& classifier) override;
    bool journalLost(const std::string& key, const ThreadSafeClassifier& classifier) override;
    void cutJournal(const std::string& key, ThreadSafeClassifier& classifier,
                    std::uint64_t length) override;
    void remove(const std::string& key) override;

    // Forgets the least recently used classifier (on equal times the first in key order) and
    // returns how many are left in memory. A running call that holds it keeps it alive.
    std::size_t evictOldest();
    // How many classifiers are in memory now.
    std::size_t count();
    // Writes whole every classifier whose journal holds records, in memory or evicted since it
    // last had records, and drops its journal, so that its file alone holds it (an orderly
    // stop). A classifier that fails keeps its journal, which its next load replays.
    void checkpoint() override;
    // How many classifiers are in memory now and the size of their files.
    Metrics::Repository usage() override;

private:
    // A cold load in progress: _result receives the classifier, null when the file is missing,
    // or the exception the load failed with. _room is the memory it made room for, which the
    // loads that start before it ends count as taken.
    struct Load {
        std::uint64_t _room = 0;
        std::promise<std::shared_ptr<ThreadSafeClassifier>> _promise;
        std::shared_future<std::shared_ptr<ThreadSafeClassifier>> _result =
            _promise.get_future().share();
    };

    static ClassifierNotFoundException notFound(const std::string& key);
    // The load of the file in progress, or null. Needs the repository mutex.
    std::shared_ptr<Load> loading(const std::string& fileKey) const;
    // create with the repository mutex held and no load of the file in progress.
    std::shared_ptr<ThreadSafeClassifier> createLocked(const std::string& fileKey,
                                                       const std::string& key);
    // Loads the file of load's placeholder (without the repository mutex), enters the result and
    // hands it, or the failure, to the requests waiting for it.
    std::shared_ptr<ThreadSafeClassifier> loadAndPublish(const std::string& fileKey,
                                                         const std::string& key, Load& load);
    std::shared_ptr<ThreadSafeClassifier> awaitLoad(const Load& load, const std::string& key);
    void forgetLoad(const std::string& fileKey);
    // The classifier of the file, with its journal replayed; ClassifierNotFoundException when
    // missing.
    std::shared_ptr<ThreadSafeClassifier> readClassifier(const std::string& fileKey,
                                                         const std::string& key) const;

    // A classifier just evicted whose journal holds records.
    struct Evicted {
        std::string file;
        std::shared_ptr<ThreadSafeClassifier> classifier;
    };

    // Evicts until need bytes are available besides the room of the loads under way, or until
    // nothing is left to evict (true). Stops early (false) at an evicted classifier whose journal
    // holds records, handed over in journaled: the caller folds it without the repository mutex,
    // releases it and asks again, so that the memory it frees counts before anything else is
    // evicted. Stops early (false) too when nothing is left to evict but loads are under way,
    // one of them handed over in underWay: the caller waits for it to end and asks again, since
    // what it loaded can be evicted then.
    bool makeRoom(std::uint64_t need, Evicted* journaled, std::shared_ptr<Load>* underWay);
    std::size_t evictOldest(Evicted* journaled);
    // Writes a classifier just evicted whole and drops its journal, before the load it makes room
    // for; only when its writer lock is free at once, since a writer holding it may itself wait
    // for that load. What is not folded here is folded at the orderly stop, or replayed at the
    // next load.
    void foldEvicted(Evicted& journaled) noexcept;
    std::shared_ptr<ThreadSafeClassifier> newClassifier() const;
    // The classifier of the key in the map, or evicted but still held by a running call (then
    // entered again); null when neither.
    std::shared_ptr<ThreadSafeClassifier> inMemory(const std::string& fileKey);
    // The same without entering an evicted one again.
    std::shared_ptr<ThreadSafeClassifier> held(const std::string& fileKey) const;
    // Writes the classifier whole under its writer lock when its journal holds records.
    void checkpoint(const std::string& fileKey, ThreadSafeClassifier& classifier);
    // The same with the writer lock held and no record waiting for its sync.
    void checkpointLocked(const std::string& fileKey, ThreadSafeClassifier& classifier);

    const classifier::ClassifierFactory* _classifierFactory;
    const platform::memory::MemoryStatus* _memoryStatus;
    const FileClassifierStore* _store;
    Metrics* _metrics;
    Log* _log;

    // guards _classifiers, _evicted, _loading and _evictedWithJournal
    platform::mutex::MutexImpl _mutex;
    std::map<std::string, std::shared_ptr<ThreadSafeClassifier>> _classifiers;
    std::map<std::string, std::weak_ptr<ThreadSafeClassifier>> _evicted;
    std::map<std::string, std::shared_ptr<Load>> _loading;
    std::set<std::string> _evictedWithJournal;
};

}  // namespace norvale::quillmark
