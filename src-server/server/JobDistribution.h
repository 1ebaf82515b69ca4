#pragma once

// The classifier repository: the one place through which requests reach classifiers. A key is
// the classifier file's path (root + '/' + name + ".dat"); keys whose names differ only in ASCII
// letter case name the same classifier. Every operation may be called from any thread at once.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/BadRequestException.h"
#include "server/Metrics.h"
#include "server/ThreadSafeClassifier.h"

namespace norvale::quillmark {

class ClassifierExistsException : public BadRequestException {
public:
    using BadRequestException::BadRequestException;
};

class ClassifierNotFoundException : public BadRequestException {
public:
    using BadRequestException::BadRequestException;
};

class JobDistribution {
public:
    virtual ~JobDistribution() = default;

    // A new, empty classifier entered into memory only; its file is first written by save.
    // Throws ClassifierExistsException when it exists in memory or on disk.
    virtual std::shared_ptr<ThreadSafeClassifier> create(const std::string& key) = 0;
    // The classifier in memory, loaded from its file on first use (making room first).
    // Throws ClassifierNotFoundException when there is no file.
    virtual std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) = 0;
    // The same for a write sequence, which beginWrite brings up to date: a repository shared
    // with other processes may leave their commits to it here.
    virtual std::shared_ptr<ThreadSafeClassifier> getForWriting(const std::string& key) {
        return get(key);
    }
    // Size in bytes of the stored classifier (its file with its journal replayed), 0 when there
    // is none.
    virtual std::uint64_t size(const std::string& key) = 0;
    // Replaces the stored file by bytes (atomically), then drops the classifier's journal.
    virtual void save(const std::string& key, std::string_view bytes) = 0;
    // Appends one journal record (ClassifierJournal::record) to the journal of classifier, whose
    // writer side the caller holds; a failure leaves the journal as it was. Returns true when the
    // record is durable already (it started a new journal); otherwise syncJournal makes it so.
    virtual bool append(const std::string& key, ThreadSafeClassifier& classifier,
                        std::string_view record) = 0;
    // Makes every record appended to classifier's journal so far durable.
    virtual void syncJournal(const std::string& key, ThreadSafeClassifier& classifier) = 0;
    // Whether the records of classifier's journal are gone from the store (its journal was
    // removed or replaced from outside): the next commit then stores the classifier whole.
    virtual bool journalLost(const std::string& /*key*/,
                             const ThreadSafeClassifier& /*classifier*/) {
        return false;
    }
    // Cuts classifier's journal back to length bytes (the records a failed sync leaves behind).
    virtual void cutJournal(const std::string& key, ThreadSafeClassifier& classifier,
                            std::uint64_t length) = 0;
    // Deletes the file and its journal (missing ones are fine) and forgets the classifier in
    // memory.
    virtual void remove(const std::string& key) = 0;

    // A write sequence that holds classifier's writer side and is about to change it (creating:
    // it was just made by create). A repository shared with other processes takes the
    // classifier's lock among them here and brings classifier up to date with their commits; it
    // throws ClassifierExistsException when a created name was stored meanwhile, and
    // ClassifierNotFoundException when the classifier was removed.
    virtual void beginWrite(const std::string& /*key*/, ThreadSafeClassifier& /*classifier*/,
                            bool /*creating*/) {}
    // The write sequence of key lets go of the writer side: what beginWrite took is released,
    // and what save or append did not commit is taken back.
    virtual void endWrite(const std::string& /*key*/) noexcept {}
    // Takes out a classifier that create made and whose write sequence failed before its first
    // save.
    virtual void discardCreated(const std::string& key) { remove(key); }
    // Makes the stored classifiers whole on an orderly stop, once no request runs.
    virtual void checkpoint() {}
    // How many classifiers are in memory now and the size of their stored forms.
    virtual Metrics::Repository usage() = 0;
};

}  // namespace norvale::quillmark
