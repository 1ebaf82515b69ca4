#pragma once

#include <cstddef>
#include <string>

#include "classifier/ClassifierFactory.h"
#include "exceptions/Exception.h"
#include "io/filesystem/LoadFile.h"
#include "server/ClassifierStore.h"
#include "server/Log.h"

namespace norvale::quillmark {

// A folder that cannot be imported: a name taken, two names differing only in letter case, or a
// file that is not a classifier.
class ImportException : public exceptions::Exception {
public:
    using Exception::Exception;
};

// Moves the classifiers of a classifier folder into a store: every file ending in ".dat" below
// the folder becomes the classifier named by its path relative to the folder, without ".dat" and
// lower-cased, as requests name it; a journal beside it comes along as its records. Every file is
// read and checked before the first one is stored, so a refused folder leaves the store as it
// was. The collaborators are not owned.
class ClassifierImport {
public:
    ClassifierImport(ClassifierStore* store, const classifier::ClassifierFactory* classifiers,
                     const io::filesystem::LoadFile* loadFile, Log* log);

    // Copies the classifiers of folder; returns how many. Throws ImportException, naming every
    // file at fault, when one cannot be imported; then nothing was stored.
    std::size_t run(const std::string& folder);

private:
    struct Found;

    // The classifier of a file with its journal records, checked by loading both.
    Found read(const std::string& folder, const std::string& relative) const;

    ClassifierStore* _store;
    const classifier::ClassifierFactory* _classifiers;
    const io::filesystem::LoadFile* _loadFile;
    Log* _log;
};

}  // namespace norvale::quillmark
