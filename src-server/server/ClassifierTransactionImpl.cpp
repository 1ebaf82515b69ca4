#include "server/ClassifierTransactionImpl.h"

#include <new>
#include <utility>

#include "debug/assertion.h"

namespace norvale::quillmark {

ClassifierTransactionImpl::ClassifierTransactionImpl(JobDistribution* repository, std::string key)
    : _repository(repository), _key(std::move(key)) {}

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

classifier::Classifier& ClassifierTransactionImpl::getClassifier() {
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
        const std::string bytes = _classifierInfo.copy->getTrainingData();
        _repository->save(_key, bytes);
        _classifierInfo.classifier->setStoredBytes(bytes.size());
        _classifierInfo.classifier->classifier().swap(*_classifierInfo.copy);
    }
    _classifierInfo.state = TransactionState::Committed;
    release();
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
