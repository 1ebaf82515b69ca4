#include "server/ClassifierTransactionImpl.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

#include "debug/assertion.h"

namespace norvale::quillmark {

ClassifierTransactionImpl::ClassifierTransactionImpl(JobDistribution* repository, std::string key,
                                                     std::uint64_t journalFloor)
    : _repository(repository), _key(std::move(key)), _journalFloor(journalFloor) {}

ClassifierTransactionImpl::~ClassifierTransactionImpl() {
    try {
        release();
    } catch (const exceptions::Exception&) {
        // Taking out a classifier created here failed (its named lock or its missing file);
        // a destructor cannot report that, and every lock is released all the same.
        drop();
    } catch (const std::bad_alloc&) {
        // Out of memory while taking out a classifier created here: the copy, the largest thing
        // held, goes first, and taking out is tried once more. Should that fail too, the empty
        // classifier stays in memory (it has no file) rather than ending the process.
        drop();
        try {
            _repository->discardCreated(_key);
        } catch (...) {
            // Nothing is left to free; the next create of this name fails "(in memory)".
        }
    }
}

const std::string& ClassifierTransactionImpl::getName() const {
    return _key;
}

void ClassifierTransactionImpl::open(std::shared_ptr<ThreadSafeClassifier> shared,
                                     TransactionState state) {
    QM_ASSERT_TEXT(!_classifierInfo.classifier, "!_classifierInfo.classifier",
                   "A transaction opened a classifier while it already held one.");
    auto lock = std::make_shared<platform::mutex::WriterAutoLock>(shared->writer());
    if (shared->removed()) {
        throw ClassifierNotFoundException("The requested classifier could not be found. '" + _key +
                                          "'.");
    }
    _repository->beginWrite(_key, *shared, state == TransactionState::Created);
    _classifierInfo.classifier = std::move(shared);
    _classifierInfo.lock = std::move(lock);
    _classifierInfo.state = state;
    // A created classifier is empty, so its copy costs nothing; taking it out again then leaves
    // the shared one untouched for anyone who looked it up meanwhile.
    if (state == TransactionState::Created) {
        _classifierInfo.copy = _classifierInfo.classifier->classifier().clone();
    }
}

void ClassifierTransactionImpl::create() {
    auto created = _repository->create(_key);
    _classifierInfo.state = TransactionState::Created;
    open(std::move(created), TransactionState::Created);
}

void ClassifierTransactionImpl::addClass(std::string_view className) {
    copy().addClass(className);
    _calls.push_back({JournalCall::Kind::AddClass, std::string(className), {}});
}

void ClassifierTransactionImpl::removeClass(std::string_view className) {
    copy().removeClass(className);
    _calls.push_back({JournalCall::Kind::RemoveClass, std::string(className), {}});
}

void ClassifierTransactionImpl::train(std::string_view className, std::string_view text) {
    openForWriting();
    if (_classifierInfo.copy) {
        _classifierInfo.copy->train(className, text);
    } else {
        _classifierInfo.classifier->classifier().train(className, text, _classifierInfo.undo);
    }
    _calls.push_back({JournalCall::Kind::Train, std::string(className), std::string(text)});
}

void ClassifierTransactionImpl::untrain(std::string_view className, std::string_view text) {
    openForWriting();
    if (_classifierInfo.copy) {
        _classifierInfo.copy->untrain(className, text);
    } else {
        _classifierInfo.classifier->classifier().untrain(className, text, _classifierInfo.undo);
    }
    _calls.push_back({JournalCall::Kind::Untrain, std::string(className), std::string(text)});
}

void ClassifierTransactionImpl::openForWriting() {
    if (_classifierInfo.state == TransactionState::Removed) {
        throw ClassifierNotFoundException(
            "Trying to get a classifier that has been marked for deletion '" + _key + "'.");
    }
    if (!_classifierInfo.classifier) {
        open(_repository->getForWriting(_key), TransactionState::Opened);
    }
}

classifier::Classifier& ClassifierTransactionImpl::copy() {
    openForWriting();
    if (!_classifierInfo.copy) {
        // The undo log names classes by index, which class changes move: the copy takes the
        // calls so far with it, and the shared classifier goes back to where it was. Records of
        // other writers waiting for their sync end first, since a failed sync takes them back.
        _classifierInfo.classifier->awaitDrained(&_classifierInfo.undo);
        classifier::Classifier& shared = _classifierInfo.classifier->classifier();
        _classifierInfo.copy = shared.clone();
        shared.undo(_classifierInfo.undo);
    }
    return *_classifierInfo.copy;
}

void ClassifierTransactionImpl::remove() {
    drop();
    if (_classifierInfo.state == TransactionState::Created) _createdThenRemoved = true;
    _classifierInfo.state = TransactionState::Removed;
}

void ClassifierTransactionImpl::commit() {
    if (_classifierInfo.state == TransactionState::Removed) {
        _repository->remove(_key);
        _createdThenRemoved = false;
        return;
    }
    if (_classifierInfo.lock) {
        ThreadSafeClassifier& shared = *_classifierInfo.classifier;
        if (_classifierInfo.copy) {
            _classifierInfo.copy->compact();
            storeCopy(*_classifierInfo.copy);
            shared.classifier().swap(*_classifierInfo.copy);
        } else if (const std::uint64_t ticket = storeInPlace()) {
            // The next writer goes on while this one waits for the sync it shares with it.
            _repository->endWrite(_key);
            _classifierInfo.lock.reset();
            shared.awaitSync(
                ticket, [this, &shared] { _repository->syncJournal(_key, shared); },
                [this, &shared](std::uint64_t length) {
                    _repository->cutJournal(_key, shared, length);
                });
            _classifierInfo.undo.clear();
        }
    }
    if (_classifierInfo.state == TransactionState::Created) {
        _classifierInfo.classifier->setUncommitted(false);
    }
    _classifierInfo.state = TransactionState::Committed;
    release();
}

bool ClassifierTransactionImpl::journalFull(std::uint64_t size) const {
    return _classifierInfo.state == TransactionState::Created ||
           _classifierInfo.classifier->journalBytes() >= std::max(_journalFloor, size / 2) ||
           _repository->journalLost(_key, *_classifierInfo.classifier);
}

void ClassifierTransactionImpl::storeWhole(const classifier::Classifier& changed) {
    ThreadSafeClassifier& shared = *_classifierInfo.classifier;
    shared.awaitDrained(_classifierInfo.copy ? nullptr : &_classifierInfo.undo);
    const std::string bytes = changed.getTrainingData();
    // Made first: once the file is written, nothing may fail for want of memory.
    std::string header = ClassifierJournal::header(bytes);
    _repository->save(_key, bytes);
    shared.stored(bytes.size(), std::move(header));
}

void ClassifierTransactionImpl::storeCopy(const classifier::Classifier& changed) {
    ThreadSafeClassifier& shared = *_classifierInfo.classifier;
    const std::uint64_t size = changed.trainingDataSize();
    if (journalFull(size)) return storeWhole(changed);
    // Synced here, under the writer lock: the copy is swapped in only once it is durable.
    const std::uint64_t before = shared.journalBytes();
    if (!_repository->append(_key, shared, ClassifierJournal::record(_calls))) {
        try {
            _repository->syncJournal(_key, shared);
        } catch (...) {
            try {
                _repository->cutJournal(_key, shared, before);
                shared.setJournalBytes(before);
            } catch (...) {
                shared.setJournalBytes(ThreadSafeClassifier::UnknownJournal);
            }
            throw;
        }
    }
    shared.setStoredBytes(size);
}

std::uint64_t ClassifierTransactionImpl::storeInPlace() {
    ThreadSafeClassifier& shared = *_classifierInfo.classifier;
    classifier::Classifier& changed = shared.classifier();
    const std::uint64_t size = changed.trainingDataSize();
    const std::size_t changes = _classifierInfo.undo.changes().size();
    if (journalFull(size)) {
        storeWhole(changed);
    } else {
        shared.reserveSync();
        if (!_repository->append(_key, shared, ClassifierJournal::record(_calls))) {
            return shared.joinSync(_classifierInfo.undo, changes, size);
        }
        shared.setStoredBytes(size);
    }
    _classifierInfo.undo.clear();
    try {
        changed.compactBacklog(changes);
    } catch (const std::bad_alloc&) {
        // Reads see the same counts uncompacted; the next commit tries again.
    }
    return 0;
}

void ClassifierTransactionImpl::drop() noexcept {
    if (_classifierInfo.classifier && !_classifierInfo.undo.empty()) {
        _classifierInfo.classifier->classifier().undo(_classifierInfo.undo);
    }
    _classifierInfo.copy.reset();
    if (_classifierInfo.lock) _repository->endWrite(_key);
    _classifierInfo.lock.reset();
    _classifierInfo.classifier.reset();
}

void ClassifierTransactionImpl::release() {
    // Dropped first: remove waits for the writer lock held here.
    drop();
    if (_classifierInfo.state == TransactionState::Created || _createdThenRemoved) {
        _classifierInfo.state = TransactionState::None;
        _createdThenRemoved = false;
        _repository->discardCreated(_key);
    }
}

}  // namespace norvale::quillmark
