#include "server/JobDistributionImpl.h"

#include <chrono>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/WriterAutoLock.h"
#include "server/ClassifierJournal.h"

namespace norvale::quillmark {

using platform::mutex::AutoLock;
using platform::mutex::MutexImpl;

namespace {

std::int64_t secondsSinceEpoch() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

JobDistributionImpl::JobDistributionImpl(const classifier::ClassifierFactory* classifierFactory,
                                         const platform::memory::MemoryStatus* memoryStatus,
                                         const FileClassifierStore* store, Metrics* metrics,
                                         Log* log)
    : _classifierFactory(classifierFactory),
      _memoryStatus(memoryStatus),
      _store(store),
      _metrics(metrics),
      _log(log) {}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::newClassifier() const {
    return std::make_shared<ThreadSafeClassifier>(_classifierFactory->create(),
                                                  secondsSinceEpoch());
}

std::shared_ptr<JobDistributionImpl::Load> JobDistributionImpl::loading(
    const std::string& fileKey) const {
    const auto found = _loading.find(fileKey);
    return found == _loading.end() ? nullptr : found->second;
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::create(const std::string& key) {
    const std::string file = FileClassifierStore::fileKey(key);
    for (;;) {
        std::shared_ptr<Load> load;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            load = loading(file);
            if (!load) return createLocked(file, key);
        }
        // A load of the same file ends first, as it would if it held the repository mutex.
        load->_result.wait();
    }
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::createLocked(const std::string& file,
                                                                        const std::string& key) {
    if (inMemory(file)) {
        throw ClassifierExistsException(
            "Trying to create a classifier that already exists (in memory) '" + key + "'.");
    }
    if (!_store->create(file)) {
        throw ClassifierExistsException(
            "Trying to create a classifier that already exists (on disk) '" + key + "'.");
    }
    auto created = newClassifier();
    created->setUncommitted(true);
    _classifiers.emplace(file, created);
    return created;
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::get(const std::string& key) {
    const std::string file = FileClassifierStore::fileKey(key);
    for (;;) {
        std::shared_ptr<Load> load;
        bool loadsItself = false;
        Evicted journaled;
        std::shared_ptr<Load> underWay;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            if (auto found = inMemory(file)) {
                if (found->uncommitted()) throw notFound(key);
                found->setLastAccess(secondsSinceEpoch());
                return found;
            }
            load = loading(file);
            const std::uint64_t need = load ? 0 : 2 * _store->size(file);
            if (!load && makeRoom(need, &journaled, &underWay)) {
                load = std::make_shared<Load>();
                load->_room = need;
                _loading.emplace(file, load);
                loadsItself = true;
            }
        }
        // The file is read and parsed without the repository mutex: other classifiers go on.
        if (loadsItself) return loadAndPublish(file, key, *load);
        if (load) return awaitLoad(*load, key);
        if (underWay) {
            underWay->_result.wait();
            continue;
        }
        // Room is made again once the evicted classifier is written whole and released.
        foldEvicted(journaled);
    }
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::awaitLoad(const Load& load,
                                                                     const std::string& key) {
    // Throws what the load threw; a missing file is reported under this request's key.
    auto loaded = load._result.get();
    if (!loaded) throw notFound(key);
    return loaded;
}

ClassifierNotFoundException JobDistributionImpl::notFound(const std::string& key) {
    return ClassifierNotFoundException("The requested classifier could not be found. '" + key +
                                       "'.");
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::loadAndPublish(const std::string& file,
                                                                          const std::string& key,
                                                                          Load& load) {
    std::shared_ptr<ThreadSafeClassifier> loaded;
    try {
        loaded = readClassifier(file, key);
    } catch (const ClassifierNotFoundException&) {
        forgetLoad(file);
        load._promise.set_value(nullptr);
        throw;
    } catch (...) {
        forgetLoad(file);
        load._promise.set_exception(std::current_exception());
        throw;
    }
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        _loading.erase(file);
        _classifiers.emplace(file, loaded);
    }
    load._promise.set_value(loaded);
    return loaded;
}

void JobDistributionImpl::forgetLoad(const std::string& file) {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    _loading.erase(file);
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::readClassifier(
    const std::string& file, const std::string& key) const {
    std::optional<FileClassifierStore::Stored> stored = _store->load(file);
    if (!stored) throw notFound(key);
    const std::string& bytes = stored->file;
    const std::optional<std::string>& journal = stored->journal;
    auto loaded = newClassifier();
    loaded->classifier().setTrainingData(bytes);
    loaded->stored(bytes.size(), ClassifierJournal::header(bytes));
    if (journal) {
        const ClassifierJournal::Contents contents = ClassifierJournal::read(*journal, bytes);
        if (contents.extendsFile) {
            for (const auto& record : contents.records) {
                ClassifierJournal::replay(record, loaded->classifier());
            }
            loaded->classifier().compact();
            loaded->setStoredBytes(loaded->classifier().trainingDataSize());
            loaded->setJournalBytes(contents.validLength);
        }
        // A journal of an earlier file is dropped, a torn last append cut off in place (which
        // needs no free space), so that the next append follows the last whole record. The cut
        // is logged: it is seen only once. Without a cut, the zero bytes written ahead of the
        // records stay for the appends to come.
        std::size_t cut = 0;
        if (!contents.extendsFile) {
            _store->dropJournal(file);
            _log->log("The journal " + FileClassifierStore::journalPath(file) +
                      " extended an earlier content of " + file +
                      ", stored whole since; it was dropped.");
        } else if (contents.torn) {
            _store->cutJournal(file, contents.validLength);
            cut = journal->size() - contents.validLength;
        }
        if (cut > 0) {
            _log->log("The journal " + FileClassifierStore::journalPath(file) +
                      " ended in an incomplete record, a write cut short; its last " +
                      std::to_string(cut) + " bytes were cut off.");
        }
    }
    _metrics->classifierLoaded();
    return loaded;
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::inMemory(const std::string& fileKey) {
    if (const auto found = _classifiers.find(fileKey); found != _classifiers.end()) {
        return found->second;
    }
    const auto evicted = _evicted.find(fileKey);
    if (evicted == _evicted.end()) return nullptr;
    auto held = evicted->second.lock();
    _evicted.erase(evicted);
    if (held) _classifiers.emplace(fileKey, held);
    return held;
}

std::shared_ptr<ThreadSafeClassifier> JobDistributionImpl::held(const std::string& fileKey) const {
    if (const auto found = _classifiers.find(fileKey); found != _classifiers.end()) {
        return found->second;
    }
    const auto evicted = _evicted.find(fileKey);
    return evicted == _evicted.end() ? nullptr : evicted->second.lock();
}

bool JobDistributionImpl::makeRoom(std::uint64_t need, Evicted* journaled,
                                   std::shared_ptr<Load>* underWay) {
    // The loads under way have not taken their memory yet, or not all of it.
    for (const auto& entry : _loading) need += entry.second->_room;
    while (_memoryStatus->available() < need) {
        if (_classifiers.empty() && !_loading.empty()) {
            *underWay = _loading.begin()->second;
            return false;
        }
        const std::size_t left = evictOldest(journaled);
        if (journaled->classifier) return false;
        if (left == 0) break;
    }
    return true;
}

std::size_t JobDistributionImpl::evictOldest() {
    return evictOldest(nullptr);
}

std::size_t JobDistributionImpl::evictOldest(Evicted* journaled) {
    std::shared_ptr<ThreadSafeClassifier> evicted;
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    auto oldest = _classifiers.begin();
    for (auto entry = _classifiers.begin(); entry != _classifiers.end(); ++entry) {
        if (entry->second->lastAccess() < oldest->second->lastAccess()) oldest = entry;
    }
    if (oldest != _classifiers.end()) {
        evicted = std::move(oldest->second);
        _evicted[oldest->first] = evicted;
        if (evicted->journalBytes() != 0) {
            _evictedWithJournal.insert(oldest->first);
            if (journaled != nullptr) *journaled = {oldest->first, evicted};
        }
        _store->releaseJournal(oldest->first);
        _classifiers.erase(oldest);
        _metrics->classifierEvicted();
    }
    std::erase_if(_evicted, [](const auto& entry) { return entry.second.expired(); });
    return _classifiers.size();
}

void JobDistributionImpl::checkpoint() {
    std::vector<std::pair<std::string, std::shared_ptr<ThreadSafeClassifier>>> journaled;
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        for (const auto& [file, classifier] : _classifiers)
            journaled.emplace_back(file, classifier);
        for (const std::string& file : _evictedWithJournal) {
            if (!_classifiers.contains(file)) journaled.emplace_back(file, nullptr);
        }
        _evictedWithJournal.clear();
    }
    for (auto& [file, classifier] : journaled) {
        try {
            // An evicted one is loaded again, with its journal replayed; a missing one is gone.
            if (!classifier) classifier = get(file);
            checkpoint(file, *classifier);
        } catch (const exceptions::Exception& e) {
            _log->log("The classifier " + file + " could not be stored whole at the stop: " +
                      e.what() + " Its journal stays; the next load replays it.");
        } catch (const std::bad_alloc&) {
            // The journal stays, and the next load replays it.
        }
    }
}

void JobDistributionImpl::foldEvicted(Evicted& journaled) noexcept {
    ThreadSafeClassifier& classifier = *journaled.classifier;
    if (classifier.tryLockWriter()) {
        std::unique_lock<platform::mutex::WriterLock> writer(*classifier.writer(), std::adopt_lock);
        try {
            checkpointLocked(journaled.file, classifier);
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            _evictedWithJournal.erase(journaled.file);
        } catch (const exceptions::Exception&) {
            // The journal stays, and the next load replays it.
        } catch (const std::bad_alloc&) {
            // The same.
        }
    }
    // Released: eviction was to free its memory.
    journaled.classifier.reset();
}

void JobDistributionImpl::checkpoint(const std::string& file, ThreadSafeClassifier& classifier) {
    platform::mutex::WriterAutoLock writer(classifier.writer());
    classifier.awaitDrained(nullptr);
    checkpointLocked(file, classifier);
}

void JobDistributionImpl::checkpointLocked(const std::string& file,
                                           ThreadSafeClassifier& classifier) {
    if (classifier.removed() || classifier.journalBytes() == 0) return;
    const std::string bytes = classifier.classifier().getTrainingData();
    std::string header = ClassifierJournal::header(bytes);
    save(file, bytes);
    classifier.stored(bytes.size(), std::move(header));
}

std::size_t JobDistributionImpl::count() {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    return _classifiers.size();
}

Metrics::Repository JobDistributionImpl::usage() {
    AutoLock<MutexImpl> repositoryLock(&_mutex);
    Metrics::Repository usage{_classifiers.size(), 0};
    for (const auto& entry : _classifiers) usage.storedBytes += entry.second->storedBytes();
    return usage;
}

std::uint64_t JobDistributionImpl::size(const std::string& key) {
    const std::string file = FileClassifierStore::fileKey(key);
    {
        AutoLock<MutexImpl> repositoryLock(&_mutex);
        const auto found = held(file);
        if (found && found->journalBytes() != 0) return found->storedBytes();
    }
    if (const auto alone = _store->sizeWithoutJournal(file)) return *alone;
    // The file alone is smaller than the classifier: only a load knows its size.
    return get(key)->storedBytes();
}

void JobDistributionImpl::save(const std::string& key, std::string_view bytes) {
    const auto began = std::chrono::steady_clock::now();
    _store->save(FileClassifierStore::fileKey(key), bytes);
    _metrics->committed(std::chrono::steady_clock::now() - began);
}

bool JobDistributionImpl::append(const std::string& key, ThreadSafeClassifier& classifier,
                                 std::string_view record) {
    const std::string file = FileClassifierStore::fileKey(key);
    const auto began = std::chrono::steady_clock::now();
    const bool started = classifier.journalBytes() == 0;
    if (started) {
        // A new journal appears whole with its first record, or not at all.
        const std::string first = classifier.journalHeader() + std::string(record);
        _store->replaceJournal(file, first);
        classifier.setJournalBytes(first.size());
    } else {
        _store->appendJournal(file, classifier.journalBytes(), record);
        classifier.setJournalBytes(classifier.journalBytes() + record.size());
    }
    _metrics->committed(std::chrono::steady_clock::now() - began);
    return started;
}

void JobDistributionImpl::syncJournal(const std::string& key, ThreadSafeClassifier&) {
    // The next writer appends while this sync runs. The journal stays in place meanwhile, since
    // remove and checkpoints wait until no record waits for its sync.
    const auto began = std::chrono::steady_clock::now();
    _store->syncJournal(FileClassifierStore::fileKey(key));
    _metrics->committed(std::chrono::steady_clock::now() - began, 0);
}

bool JobDistributionImpl::journalLost(const std::string& key,
                                      const ThreadSafeClassifier& classifier) {
    const std::uint64_t records = classifier.journalBytes();
    if (records == 0 || records == ThreadSafeClassifier::UnknownJournal) return false;
    const std::string file = FileClassifierStore::fileKey(key);
    if (_store->journalInPlace(file)) return false;
    _log->log("The journal " + FileClassifierStore::journalPath(file) +
              " was removed or replaced while in use; the classifier is stored whole.");
    return true;
}

void JobDistributionImpl::cutJournal(const std::string& key, ThreadSafeClassifier&,
                                     std::uint64_t length) {
    _store->cutJournal(FileClassifierStore::fileKey(key), length);
}

void JobDistributionImpl::remove(const std::string& key) {
    const std::string file = FileClassifierStore::fileKey(key);
    // The writer lock of the classifier in memory is taken without the repository mutex, so the
    // lookup is repeated until the classifier found is the one whose writer lock is held.
    std::shared_ptr<ThreadSafeClassifier> locked;
    std::unique_ptr<platform::mutex::WriterAutoLock> writer;
    for (;;) {
        std::shared_ptr<ThreadSafeClassifier> current;
        std::shared_ptr<Load> load;
        {
            AutoLock<MutexImpl> repositoryLock(&_mutex);
            // A load in progress ends first (below), so that it cannot enter the file removed.
            load = loading(file);
            current = load ? nullptr : held(file);
            if (!load && (!current || current == locked)) {
                _store->remove(file);
                if (locked) locked->markRemoved();
                _evicted.erase(file);
                _classifiers.erase(file);
                return;
            }
        }
        writer.reset();
        if (load) {
            locked.reset();
            load->_result.wait();
            continue;
        }
        locked = std::move(current);
        writer = std::make_unique<platform::mutex::WriterAutoLock>(locked->writer());
        // Records of the classifier waiting for their sync end first, durable or taken back.
        locked->awaitDrained(nullptr);
    }
}

}  // namespace norvale::quillmark
