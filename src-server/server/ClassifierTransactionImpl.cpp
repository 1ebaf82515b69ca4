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
            _repository->remove(_key);
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
    QM_ASSERT_TEXT(!_classifierInfo.copy, "!_classifierInfo.copy",
                   "A transaction opened a classifier while it already held a copy.");
    auto lock = std::make_shared<platform::mutex::WriterAutoLock>(shared->writer());
    if (shared->removed()) {
        throw ClassifierNotFoundException("The requested classifier could not be found. '" + _key +
                                          "'.");
    }
    auto copy = shared->classifier().clone();
    _classifierInfo.classifier = std::move(shared);
    _classifierInfo.lock = std::move(lock);
    _classifierInfo.copy = std::move(copy);
    _classifierInfo.state = state;
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
    // Not compacted here: removeClass and commit compact the copy once, when they need it.
    copy().train(className, text);
    _calls.push_back({JournalCall::Kind::Train, std::string(className), std::string(text)});
}

void ClassifierTransactionImpl::untrain(std::string_view className, std::string_view text) {
    copy().untrain(className, text);
    _calls.push_back({JournalCall::Kind::Untrain, std::string(className), std::string(text)});
}

classifier::Classifier& ClassifierTransactionImpl::copy() {
    if (_classifierInfo.state == TransactionState::Removed) {
        throw ClassifierNotFoundException(
            "Trying to get a classifier that has been marked for deletion '" + _key + "'.");
    }
    if (!_classifierInfo.copy) open(_repository->get(_key), TransactionState::Opened);
    return *_classifierInfo.copy;
}

void ClassifierTransactionImpl::remove() {
    drop();
    _classifierInfo.state = TransactionState::Removed;
}

void ClassifierTransactionImpl::commit() {
    if (_classifierInfo.state == TransactionState::Removed) {
        _repository->remove(_key);
        return;
    }
    if (_classifierInfo.lock) {
        // The write calls leave their training uncompacted; it is merged once, here.
        _classifierInfo.copy->compact();
        store();
        _classifierInfo.classifier->classifier().swap(*_classifierInfo.copy);
    }
    _classifierInfo.state = TransactionState::Committed;
    release();
}

void ClassifierTransactionImpl::store() {
    ThreadSafeClassifier& shared = *_classifierInfo.classifier;
    const classifier::Classifier& changed = *_classifierInfo.copy;
    const std::uint64_t size = changed.trainingDataSize();
    const bool whole = _classifierInfo.state == TransactionState::Created ||
                       shared.journalBytes() >= std::max(_journalFloor, size / 2);
    if (whole) {
        const std::string bytes = changed.getTrainingData();
        // Made first: once the file is written, nothing may fail for want of memory.
        std::string header = ClassifierJournal::header(bytes);
        _repository->save(_key, bytes);
        shared.stored(bytes.size(), std::move(header));
    } else {
        _repository->append(_key, shared, ClassifierJournal::record(_calls));
        shared.setStoredBytes(size);
    }
}

void ClassifierTransactionImpl::drop() {
    _classifierInfo.copy.reset();
    _classifierInfo.lock.reset();
    _classifierInfo.classifier.reset();
}

void ClassifierTransactionImpl::release() {
    // Dropped first: remove waits for the writer lock held here.
    drop();
    if (_classifierInfo.state == TransactionState::Created) {
        _classifierInfo.state = TransactionState::None;
        _repository->remove(_key);
    }
}

}  // namespace norvale::quillmark
