#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classifier/UndoLog.h"
#include "platform/mutex/WriterAutoLock.h"
#include "server/ClassifierJournal.h"
#include "server/ClassifierTransaction.h"
#include "server/JobDistribution.h"

namespace norvale::quillmark {

// The write calls of one request on one classifier. The first call takes the shared
// classifier's writer lock, which keeps readers out until commit or rollback. train and untrain
// change the shared classifier in place and note in an undo log what takes them back; a class
// change (and a create) works on a private copy instead, made from the classifier as the calls
// so far left it, which commit swaps in. commit stores the change first, so a failing store
// changes nothing. A classifier created here is stored whole; the calls on an existing one go to
// its journal as one record, and once the journal has grown past half the classifier's size (and
// past a floor) the classifier is stored whole again. A record is appended under the writer lock
// and synced after it, together with the records of the writers that followed (see
// ThreadSafeClassifier); commit returns once it is durable. Used by one thread; the writer lock is
// released on that thread.
class ClassifierTransactionImpl : public ClassifierTransaction {
public:
    enum class TransactionState {
        None = 0,       // nothing touched yet
        Created = 1,    // the classifier was created by this transaction
        Removed = 2,    // the classifier is to be deleted at commit
        Opened = 3,     // an existing classifier was opened for writing
        Committed = 4,  // commit has run
    };

    static constexpr std::uint64_t DefaultJournalFloor = 1 << 20;

    // repository must outlive the transaction. A journal shorter than journalFloor is never
    // folded into the classifier file.
    ClassifierTransactionImpl(JobDistribution* repository, std::string key,
                              std::uint64_t journalFloor = DefaultJournalFloor);
    ClassifierTransactionImpl(const ClassifierTransactionImpl&) = delete;
    ClassifierTransactionImpl& operator=(const ClassifierTransactionImpl&) = delete;
    // Rolls back unless committed: a classifier created here is taken out again.
    ~ClassifierTransactionImpl() override;

    // Creates the classifier in the repository (memory only) and opens it.
    void create() override;
    const std::string& getName() const override;
    // Each throws ClassifierNotFoundException after remove, or when the classifier does not
    // exist.
    void addClass(std::string_view className) override;
    void removeClass(std::string_view className) override;
    void train(std::string_view className, std::string_view text) override;
    void untrain(std::string_view className, std::string_view text) override;
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
        // Null while the calls change the shared classifier in place.
        std::unique_ptr<classifier::Classifier> copy;
        // What the in-place calls changed; taken back unless committed.
        classifier::UndoLog undo;
        TransactionState state = TransactionState::None;
    };

    // Opens the classifier for writing unless open; throws after remove.
    void openForWriting();
    // The private copy, made when the first class change comes.
    classifier::Classifier& copy();
    // Whether the journal has grown enough that a classifier of size is stored whole instead, or
    // no longer holds the records it had (removed from outside).
    bool journalFull(std::uint64_t size) const;
    // Writes changed whole once no other writer's record waits for its sync.
    void storeWhole(const classifier::Classifier& changed);
    // Stores the calls that made the copy changed: one durable record, or changed whole.
    void storeCopy(const classifier::Classifier& changed);
    // Stores the in-place calls: appends their record to the journal (or writes the classifier
    // whole). Returns the ticket of the sync the record waits for, 0 when it is durable already.
    std::uint64_t storeInPlace();
    void open(std::shared_ptr<ThreadSafeClassifier> shared, TransactionState state);
    // Takes back the in-place changes, deletes the copy, then releases the writer lock, then
    // the shared classifier.
    void drop() noexcept;
    void release();

    JobDistribution* _repository;
    const std::string _key;
    const std::uint64_t _journalFloor;
    ClassifierInfo _classifierInfo;
    // A classifier created here and then removed stays in memory until the sequence ends: taken
    // out by the commit's remove, or else as a created one that was never stored.
    bool _createdThenRemoved = false;
    ClassifierJournal::Record _calls;
};

}  // namespace norvale::quillmark
