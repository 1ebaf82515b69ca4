#include "server/ClassifierImport.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "server/ClassifierJournal.h"
#include "server/FileClassifierStore.h"
#include "server/RequestShape.h"
#include "server/StoreJobDistribution.h"

namespace norvale::quillmark {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view Extension = ".dat";

// The paths of the classifier files below folder, relative to it, in order.
std::vector<std::string> classifierFiles(const std::string& folder) {
    std::error_code failed;
    if (!fs::is_directory(folder, failed)) {
        throw ImportException("The folder '" + folder + "' cannot be imported: it is no folder.");
    }
    std::vector<std::string> files;
    for (fs::recursive_directory_iterator entry(folder, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        const std::string name = entry->path().filename().string();
        if (entry->is_directory() && name.starts_with('.')) {
            entry.disable_recursion_pending();  // the named locks
        } else if (entry->is_regular_file() && name.size() > Extension.size() &&
                   name.ends_with(Extension)) {
            files.push_back(fs::relative(entry->path(), folder).string());
        }
    }
    if (failed) {
        throw ImportException("The folder '" + folder + "' cannot be read: " + failed.message());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

struct ClassifierImport::Found {
    std::string snapshot;
    std::vector<std::string> records;
};

ClassifierImport::ClassifierImport(ClassifierStore* store,
                                   const classifier::ClassifierFactory* classifiers,
                                   const io::filesystem::LoadFile* loadFile, Log* log)
    : _store(store), _classifiers(classifiers), _loadFile(loadFile), _log(log) {}

ClassifierImport::Found ClassifierImport::read(const std::string& folder,
                                               const std::string& relative) const {
    const std::string path = folder + "/" + relative;
    Found found{_loadFile->load(path, 0), {}};
    const auto classifier = _classifiers->create();
    classifier->setTrainingData(found.snapshot);
    // The journal is named as the server names it: the file name part lower-cased.
    const std::string journal =
        FileClassifierStore::journalPath(FileClassifierStore::fileKey(path));
    std::error_code missing;
    if (fs::exists(journal, missing)) {
        const auto contents = ClassifierJournal::read(_loadFile->load(journal, 0), found.snapshot);
        if (contents.extendsFile) {
            for (const auto& calls : contents.records) {
                ClassifierJournal::replay(calls, *classifier);
                found.records.push_back(ClassifierJournal::record(calls));
            }
        }
    }
    return found;
}

std::size_t ClassifierImport::run(const std::string& folder) {
    const std::vector<std::string> files = classifierFiles(folder);
    std::map<std::string, std::string> names;  // store key to the file holding it
    std::string faults;
    for (const std::string& relative : files) {
        const std::string key = StoreJobDistribution::nameKey(relative);
        const auto [taken, added] = names.emplace(key, relative);
        if (!requestShape::isClassifierName(key)) {
            faults += "\n'" + relative + "': no request can name the classifier '" + key +
                      "' (a name has 1 to 100 letters, digits, '_', '-' or '.' and does not "
                      "begin with '.').";
        } else if (!added) {
            faults += "\n'" + relative + "' and '" + taken->second + "' name one classifier.";
        } else if (_store->exists(key)) {
            faults += "\n'" + relative + "': the classifier '" + key + "' exists already.";
        } else {
            try {
                read(folder, relative);
            } catch (const exceptions::Exception& e) {
                faults += "\n'" + relative + "': " + e.what();
            }
        }
    }
    if (!faults.empty()) {
        throw ImportException("Nothing was imported from '" + folder + "':" + faults);
    }
    for (const auto& [key, relative] : names) {
        const Found found = read(folder, relative);
        const auto transaction = _store->write(key);
        if (!transaction->create(found.snapshot)) {
            throw ImportException("The classifier '" + key +
                                  "' was created meanwhile; the ones "
                                  "before it in name order were imported.");
        }
        transaction->append(found.records);
        transaction->commit();
        _log->log("Imported '" + relative + "' as '" + key + "' (" +
                  std::to_string(found.snapshot.size()) + " bytes, " +
                  std::to_string(found.records.size()) + " journal records).");
    }
    return names.size();
}

}  // namespace norvale::quillmark
