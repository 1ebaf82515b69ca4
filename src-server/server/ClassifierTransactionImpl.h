#pragma once

#include <memory>
#include <string>

#include "platform/mutex/WriterAutoLock.h"
#include "server/ClassifierTransaction.h"
#include "server/JobDistribution.h"

namespace norvale::quillmark {

// The write calls of one request on one classifier. The first call takes the shared
// classifier's writer lock and a private copy; commit stores the copy's data to the file first
// and swaps it into the shared classifier second, so a failing store changes nothing. Used by
// one thread; the writer lock is released on that thread.
class ClassifierTransactionImpl : public ClassifierTransaction {
public:
    enum class TransactionState {
        None = 0,       // nothing touched yet
        Created = 1,    // the classifier was created by this transaction
        Removed = 2,    // the classifier is to be deleted at commit
        Opened = 3,     // an existing classifier was opened for writing
        Committed = 4,  // commit has run
    };

    // repository must outlive the transaction.
    ClassifierTransactionImpl(JobDistribution* repository, std::string key);
    ClassifierTransactionImpl(const ClassifierTransactionImpl&) = delete;
    ClassifierTransactionImpl& operator=(const ClassifierTransactionImpl&) = delete;
    // Rolls back unless committed: a classifier created here is taken out again.
    ~ClassifierTransactionImpl() override;

    // Creates the classifier in the repository (memory only) and opens it.
    void create() override;
    const std::string& getName() const override;
    // Throws ClassifierNotFoundException after remove, or when the classifier does not exist.
    classifier::Classifier& getClassifier() override;
    // Drops the copy and the writer lock; the classifier is deleted at commit.
    void remove() override;
    void commit() override;

    TransactionState state() const { return _classifierInfo.state; }

private:
    struct ClassifierInfo {
        // Declared before the lock so that it is destroyed after it: the lock lives in the
        // shared classifier.
        std::shared_ptr<ThreadSafeClassifier> classifier;
        std::shared_ptr<platform::mutex::WriterAutoLock> lock;
        std::unique_ptr<classifier::Classifier> copy;
        TransactionState state = TransactionState::None;
    };

    void open(std::shared_ptr<ThreadSafeClassifier> shared, TransactionState state);
    // Deletes the copy, then releases the writer lock, then the shared classifier.
    void drop();
    void release();

    JobDistribution* _repository;
    const std::string _key;
    ClassifierInfo _classifierInfo;
};

}  // namespace norvale::quillmark
