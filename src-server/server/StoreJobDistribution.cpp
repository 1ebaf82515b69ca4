#include "server/StoreJobDistribution.h"

#include <chrono>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "debug/assertion.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/WriterAutoLock.h"
#include "server/ClassifierJournal.h"
#include "util/StringHelper.h"

namespace norvale::quillmark {

using platform::mutex::AutoLock;
using platform::mutex::MutexImpl;
using platform::mutex::WriterAutoLock;

namespace {

std::int64_t secondsSinceEpoch() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

constexpr std::string_view Extension = ".dat";

}  // namespace

StoreJobDistribution::StoreJobDistribution(const classifier::ClassifierFactory* classifierFactory,
                                           const platform::memory::MemoryStatus* memoryStatus,
                                           ClassifierStore* store, std::string keyPrefix,
                                           Metrics* metrics)
    : _classifierFactory(classifierFactory),
      _memoryStatus(memoryStatus),
      _store(store),
      _keyPrefix(std::move(keyPrefix)),
      _metrics(metrics) {}

std::string StoreJobDistribution::storeKey(std::string_view key) const {
    if (key.starts_with(_keyPrefix)) key.remove_prefix(_keyPrefix.size());
    return nameKey(key);
}

std::string StoreJobDistribution::nameKey(std::string_view name) {
    if (name.ends_with(Extension)) name.remove_suffix(Extension.size());
    return util::StringHelper::toLower(name);
}

ClassifierNotFoundException StoreJobDistribution::notFound(const std::string& key) {
    return ClassifierNotFoundException("The requested classifier could not be found. '" + key +
                                       "'.");
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::newClassifier() const {
    return std::make_shared<ThreadSafeClassifier>(_classifierFactory->create(),
                                                  secondsSinceEpoch());
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::inMemory(const std::string& storeKey) {
    if (const auto found = _classifiers.find(storeKey); found != _classifiers.end()) {
        return found->second;
    }
    const auto evicted = _evicted.find(storeKey);
    if (evicted == _evicted.end()) return nullptr;
    auto held = evicted->second.lock();
    _evicted.erase(evicted);
    if (held) _classifiers.emplace(storeKey, held);
    return held;
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::create(const std::string& key) {
    const std::string storeKey = this->storeKey(key);
    for (;;) {
        std::shared_ptr<ThreadSafeClassifier> cached;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            cached = inMemory(storeKey);
            if (!cached) break;
        }
        // One that another server removed is forgotten; anything else exists.
        if (cached->storeVersion() == 0 || _store->version(storeKey) != 0) {
            throw ClassifierExistsException(
                "Trying to create a classifier that already exists (in memory) '" + key + "'.");
        }
        WriterAutoLock writer(cached->writer());
        if (!cached->removed() && _store->version(storeKey) == 0) forget(storeKey, *cached);
    }
    if (_store->exists(storeKey)) {
        throw ClassifierExistsException(
            "Trying to create a classifier that already exists (on disk) '" + key + "'.");
    }
    auto created = newClassifier();
    created->setUncommitted(true);
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    if (inMemory(storeKey)) {
        throw ClassifierExistsException(
            "Trying to create a classifier that already exists (in memory) '" + key + "'.");
    }
    _classifiers.emplace(storeKey, created);
    return created;
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::get(const std::string& key) {
    return get(key, true);
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::getForWriting(const std::string& key) {
    return get(key, false);
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::get(const std::string& key,
                                                                bool catchUp) {
    const std::string storeKey = this->storeKey(key);
    for (;;) {
        std::shared_ptr<ThreadSafeClassifier> cached;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            cached = inMemory(storeKey);
            if (cached) cached->setLastAccess(secondsSinceEpoch());
        }
        if (!cached) {
            auto loaded = load(storeKey, key);
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            // Loaded meanwhile by another request too: that one stays, checked as any other.
            if (inMemory(storeKey)) continue;
            _classifiers.emplace(storeKey, loaded);
            return loaded;
        }
        if (cached->uncommitted()) throw notFound(key);
        if (cached->storeVersion() == 0 || !catchUp) return cached;
        if (committedVersion(storeKey) == cached->storeVersion()) return cached;
        WriterAutoLock writer(cached->writer());
        cached->awaitDrained(nullptr);
        // Removed here meanwhile: asked for again.
        if (cached->removed()) continue;
        const auto stored = _store->load(storeKey, cached->storeVersion());
        if (!stored) {
            forget(storeKey, *cached);
            throw notFound(key);
        }
        apply(storeKey, *stored, *cached);
        return cached;
    }
}

std::shared_ptr<ThreadSafeClassifier> StoreJobDistribution::load(const std::string& storeKey,
                                                                 const std::string& key) {
    makeRoom(2 * _store->size(storeKey));
    const auto stored = _store->load(storeKey);
    if (!stored) throw notFound(key);
    auto loaded = newClassifier();
    apply(storeKey, *stored, *loaded);
    _metrics->classifierLoaded();
    return loaded;
}

void StoreJobDistribution::apply(const std::string& storeKey, const ClassifierStore::Stored& stored,
                                 ThreadSafeClassifier& classifier) {
    if (stored.version == classifier.storeVersion()) return;
    try {
        classifier::Classifier& engine = classifier.classifier();
        std::uint64_t storedBytes = classifier.storedBytes();
        std::uint64_t journalBytes = classifier.journalBytes();
        if (stored.snapshot) {
            engine.setTrainingData(*stored.snapshot);
            storedBytes = stored.snapshot->size();
            journalBytes = 0;
        }
        for (const std::string& record : stored.records) {
            ClassifierJournal::replay(ClassifierJournal::parse(record), engine);
            journalBytes += record.size();
        }
        if (!stored.records.empty()) {
            engine.compact();
            storedBytes = engine.trainingDataSize();
        }
        classifier.setStoredBytes(storedBytes);
        classifier.setJournalBytes(journalBytes);
        classifier.setStoreVersion(stored.version);
    } catch (...) {
        // Part-way through: the next get loads it whole again.
        forget(storeKey, classifier);
        throw;
    }
}

void StoreJobDistribution::forget(const std::string& storeKey, ThreadSafeClassifier& classifier) {
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        if (const auto found = _classifiers.find(storeKey);
            found != _classifiers.end() && found->second.get() == &classifier) {
            _classifiers.erase(found);
        }
        if (const auto found = _evicted.find(storeKey);
            found != _evicted.end() && found->second.lock().get() == &classifier) {
            _evicted.erase(found);
        }
    }
    classifier.markRemoved();
}

void StoreJobDistribution::makeRoom(std::uint64_t need) {
    while (_memoryStatus->available() < need) {
        std::shared_ptr<ThreadSafeClassifier> evicted;  // released after the mutex
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        if (_classifiers.empty()) return;
        auto oldest = _classifiers.begin();
        for (auto entry = _classifiers.begin(); entry != _classifiers.end(); ++entry) {
            if (entry->second->lastAccess() < oldest->second->lastAccess()) oldest = entry;
        }
        evicted = std::move(oldest->second);
        _evicted[oldest->first] = evicted;
        _classifiers.erase(oldest);
        std::erase_if(_evicted, [](const auto& entry) { return entry.second.expired(); });
        _metrics->classifierEvicted();
    }
}

std::uint64_t StoreJobDistribution::size(const std::string& key) {
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        // While a group holds the store's lock (this request's own write sequence, say), the
        // group has caught up and no other server commits. Otherwise another server may have
        // committed since: get catches up first.
        const auto cached = inMemory(storeKey(key));
        if (cached && _groups.contains(cached.get())) return cached->storedBytes();
    }
    try {
        return get(key)->storedBytes();
    } catch (const ClassifierNotFoundException&) {
        return 0;
    }
}

void StoreJobDistribution::beginWrite(const std::string& key, ThreadSafeClassifier& classifier,
                                      bool creating) {
    const std::string storeKey = this->storeKey(key);
    if (const auto joined = group(classifier)) {
        std::unique_lock held(joined->mutex);
        if (joined->transaction && !joined->failed &&
            std::chrono::steady_clock::now() - joined->began < GroupLifetime) {
            joined->inSequence = true;
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            const bool added = _sequences.emplace(key, joined).second;
            QM_ASSERT_TEXT(added, "added", "Two write sequences on one classifier at once.");
            return;
        }
        held.unlock();
        // A group too old to join ends with the commit of its records.
        classifier.awaitDrained(nullptr);
        held.lock();
        if (joined->transaction && !joined->inSequence && !joined->committing &&
            joined->records.empty()) {
            end(*joined);
        }
    }
    auto transaction = _store->write(storeKey);
    const std::uint64_t version = transaction->version();
    if (creating && version != 0) {
        throw ClassifierExistsException(
            "Trying to create a classifier that already exists (on disk) '" + key + "'.");
    }
    if (!creating && version == 0) {
        forget(storeKey, classifier);
        throw notFound(key);
    }
    if (version != classifier.storeVersion()) {
        const auto stored = transaction->load(classifier.storeVersion());
        if (stored) apply(storeKey, *stored, classifier);
    }
    auto begun = std::make_shared<Group>();
    begun->transaction = std::move(transaction);
    begun->classifier = &classifier;
    begun->began = std::chrono::steady_clock::now();
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    _groups[&classifier] = begun;
    const bool added = _sequences.emplace(key, std::move(begun)).second;
    QM_ASSERT_TEXT(added, "added", "Two write sequences on one classifier at once.");
}

void StoreJobDistribution::endWrite(const std::string& key) noexcept {
    std::shared_ptr<Group> ended;
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        const auto found = _sequences.find(key);
        if (found == _sequences.end()) return;
        ended = std::move(found->second);
        _sequences.erase(found);
    }
    std::lock_guard held(ended->mutex);
    ended->inSequence = false;
    // A commit under way ends the group itself when it is done.
    if (ended->transaction && !ended->committing && (ended->failed || ended->records.empty())) {
        end(*ended);
    }
}

std::uint64_t StoreJobDistribution::committedVersion(const std::string& storeKey) {
    // The entry of the key lives while a read uses it.
    struct Use {
        StoreJobDistribution& self;
        const std::string& key;
        std::shared_ptr<VersionQueries> queries;

        Use(StoreJobDistribution& self, const std::string& key) : self(self), key(key) {
            AutoLock<MutexImpl> repositoryLock(&self._mutex);
            auto& entry = self._versionQueries[key];
            if (!entry) entry = std::make_shared<VersionQueries>();
            queries = entry;
            ++queries->users;
        }
        ~Use() {
            AutoLock<MutexImpl> repositoryLock(&self._mutex);
            if (--queries->users == 0) self._versionQueries.erase(key);
        }
    };
    const Use use(*this, storeKey);
    VersionQueries& queries = *use.queries;
    std::unique_lock held(queries.mutex);
    // A query running now started before this call: only the next one counts.
    const std::uint64_t needed = queries.started + 1;
    while (queries.finished < needed) {
        if (queries.running) {
            queries.finishedOne.wait(held);
            continue;
        }
        const std::uint64_t number = ++queries.started;
        queries.running = true;
        held.unlock();
        std::uint64_t version = 0;
        std::optional<ClassifierStoreException> failure;
        bool outOfMemory = false;
        try {
            version = _store->version(storeKey);
        } catch (const ClassifierStoreException& e) {
            failure = e;
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        held.lock();
        queries.running = false;
        queries.finished = number;
        queries.version = version;
        queries.failure = failure;
        queries.outOfMemory = outOfMemory;
        queries.finishedOne.notify_all();
    }
    // Each read throws a copy of its own: copying one allocates nothing.
    if (queries.failure) throw ClassifierStoreException(*queries.failure);
    if (queries.outOfMemory) throw std::bad_alloc();
    return queries.version;
}

std::shared_ptr<StoreJobDistribution::Group> StoreJobDistribution::group(
    const ThreadSafeClassifier& classifier) {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    const auto found = _groups.find(&classifier);
    return found == _groups.end() ? nullptr : found->second;
}

std::shared_ptr<StoreJobDistribution::Group> StoreJobDistribution::sequence(
    const std::string& key) {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    const auto found = _sequences.find(key);
    QM_ASSERT_TEXT(found != _sequences.end(), "found != _sequences.end()",
                   "A commit without a write sequence.");
    return found->second;
}

void StoreJobDistribution::end(Group& group) noexcept {
    // Rolled back and unlocked by the store.
    group.transaction.reset();
    group.records.clear();
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    if (const auto found = _groups.find(group.classifier);
        found != _groups.end() && found->second.get() == &group) {
        _groups.erase(found);
    }
}

void StoreJobDistribution::save(const std::string& key, std::string_view bytes) {
    const auto joined = sequence(key);
    std::lock_guard held(joined->mutex);
    const auto began = std::chrono::steady_clock::now();
    ClassifierStore::Transaction& transaction = *joined->transaction;
    std::uint64_t version = 0;
    try {
        if (transaction.version() == 0) {
            if (!transaction.create(bytes)) {
                throw ClassifierExistsException(
                    "Trying to create a classifier that already exists (on disk) '" + key + "'.");
            }
        } else {
            transaction.checkpoint(bytes);
        }
        version = transaction.commitKeepingLock();
    } catch (...) {
        joined->failed = true;
        throw;
    }
    joined->classifier->setStoreVersion(version);
    _metrics->committed(std::chrono::steady_clock::now() - began);
}

bool StoreJobDistribution::append(const std::string& key, ThreadSafeClassifier& classifier,
                                  std::string_view record) {
    const auto joined = sequence(key);
    std::lock_guard held(joined->mutex);
    const auto began = std::chrono::steady_clock::now();
    joined->records.emplace_back(record);
    classifier.setJournalBytes(classifier.journalBytes() + record.size());
    _metrics->committed(std::chrono::steady_clock::now() - began);
    return false;
}

void StoreJobDistribution::syncJournal(const std::string&, ThreadSafeClassifier& classifier) {
    const auto joined = group(classifier);
    if (!joined) return;
    std::unique_lock held(joined->mutex);
    if (!joined->transaction || joined->records.empty()) return;
    const auto began = std::chrono::steady_clock::now();
    ClassifierStore::Transaction& transaction = *joined->transaction;
    const std::vector<std::string> records = std::exchange(joined->records, {});
    std::uint64_t version = 0;
    if (!joined->inSequence) {
        // Nobody may join meanwhile: the commit lets go of the lock.
        transaction.append(records);
        version = transaction.commit();
    } else {
        // The sequence in the group appends for the next commit meanwhile.
        joined->committing = true;
        held.unlock();
        try {
            transaction.append(records);
            version = transaction.commitKeepingLock();
        } catch (...) {
            held.lock();
            joined->committing = false;
            throw;
        }
        held.lock();
        joined->committing = false;
    }
    joined->classifier->setStoreVersion(version);
    _metrics->committed(std::chrono::steady_clock::now() - began, 0);
    if (!joined->inSequence && joined->records.empty()) end(*joined);
}

void StoreJobDistribution::cutJournal(const std::string&, ThreadSafeClassifier& classifier,
                                      std::uint64_t) {
    // A failed commit: its records are gone with the group's transaction.
    const auto joined = group(classifier);
    if (!joined) return;
    std::lock_guard held(joined->mutex);
    if (joined->transaction) end(*joined);
}

void StoreJobDistribution::remove(const std::string& key) {
    const std::string storeKey = this->storeKey(key);
    for (;;) {
        std::shared_ptr<ThreadSafeClassifier> cached;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            cached = inMemory(storeKey);
        }
        std::unique_ptr<WriterAutoLock> writer;
        if (cached) {
            writer = std::make_unique<WriterAutoLock>(cached->writer());
            cached->awaitDrained(nullptr);
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            // Replaced while the writer side was awaited: the one in memory now goes.
            if (inMemory(storeKey) != cached) continue;
        }
        const auto transaction = _store->write(storeKey);
        if (transaction->remove()) transaction->commit();
        if (cached) forget(storeKey, *cached);
        return;
    }
}

void StoreJobDistribution::discardCreated(const std::string& key) {
    const std::string storeKey = this->storeKey(key);
    std::shared_ptr<ThreadSafeClassifier> cached;
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        cached = inMemory(storeKey);
    }
    if (!cached) return;
    WriterAutoLock writer(cached->writer());
    if (cached->storeVersion() == 0) forget(storeKey, *cached);
}

void StoreJobDistribution::follow(const std::string& storeKey, std::uint64_t version) {
    std::shared_ptr<ThreadSafeClassifier> cached;
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        const auto found = _classifiers.find(storeKey);
        if (found == _classifiers.end()) return;
        cached = found->second;
    }
    // A removal (version 0) is left to the next get, as is one in use.
    if (version == 0 || cached->storeVersion() == 0 || cached->storeVersion() >= version ||
        !cached->tryLockWriter()) {
        return;
    }
    std::unique_lock<platform::mutex::WriterLock> writer(*cached->writer(), std::adopt_lock);
    if (cached->removed()) return;
    const auto stored = _store->load(storeKey, cached->storeVersion());
    if (stored) apply(storeKey, *stored, *cached);
}

void StoreJobDistribution::followAll() {
    std::vector<std::string> keys;
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        for (const auto& entry : _classifiers) keys.push_back(entry.first);
    }
    for (const std::string& key : keys) follow(key, _store->version(key));
}

Metrics::Repository StoreJobDistribution::usage() {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    Metrics::Repository usage{_classifiers.size(), 0};
    for (const auto& entry : _classifiers) usage.storedBytes += entry.second->storedBytes();
    return usage;
}

}  // namespace norvale::quillmark
