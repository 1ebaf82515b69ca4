#pragma once

// The classifier repository: the one place through which requests reach classifiers. A key is
// the classifier file's path (root + '/' + name + ".dat"); keys whose names differ only in ASCII
// letter case name the same classifier. Every operation may be called from any thread at once.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/BadRequestException.h"
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
    // Makes every record appended so far durable.
    virtual void syncJournal(const std::string& key) = 0;
    // Cuts the journal back to length bytes (the records a failed sync leaves behind).
    virtual void cutJournal(const std::string& key, std::uint64_t length) = 0;
    // Deletes the file and its journal (missing ones are fine) and forgets the classifier in
    // memory.
    virtual void remove(const std::string& key) = 0;
};

}  // namespace norvale::quillmark
