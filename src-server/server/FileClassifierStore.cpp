#include "server/FileClassifierStore.h"

#include <utility>

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/NamedMutexImpl.h"

namespace norvale::quillmark {

using platform::mutex::NamedMutexImpl;

// The named lock of one file key, held for the life of the object.
class FileClassifierStore::Lock {
public:
    Lock(const std::string& lockFolder, const std::string& fileKey)
        : _mutex(lockFolder, platform::mutex::classifierLockName(fileKey)), _held(&_mutex) {}

private:
    NamedMutexImpl _mutex;
    platform::mutex::AutoLock<NamedMutexImpl> _held;
};

FileClassifierStore::FileClassifierStore(const io::filesystem::LoadFile* loadFile,
                                         const io::filesystem::SaveFile* saveFile,
                                         const io::filesystem::ExistsFile* existsFile,
                                         const io::filesystem::SizeFile* sizeFile,
                                         const io::filesystem::RemoveFile* removeFile,
                                         std::string lockFolder)
    : _loadFile(loadFile),
      _saveFile(saveFile),
      _existsFile(existsFile),
      _sizeFile(sizeFile),
      _removeFile(removeFile),
      _lockFolder(std::move(lockFolder)) {}

std::string FileClassifierStore::fileKey(std::string_view key) {
    std::string lowered(key);
    const std::size_t slash = lowered.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    for (std::size_t i = nameStart; i < lowered.size(); ++i) {
        if (lowered[i] >= 'A' && lowered[i] <= 'Z')
            lowered[i] = static_cast<char>(lowered[i] - 'A' + 'a');
    }
    return lowered;
}

std::string FileClassifierStore::journalPath(const std::string& fileKey) {
    return fileKey + ".journal";
}

bool FileClassifierStore::create(const std::string& fileKey) const {
    const Lock lock(_lockFolder, fileKey);
    if (_existsFile->exists(fileKey)) return false;
    releaseJournal(fileKey);
    _removeFile->remove(journalPath(fileKey));
    return true;
}

std::optional<FileClassifierStore::Stored> FileClassifierStore::load(
    const std::string& fileKey) const {
    const std::string journal = journalPath(fileKey);
    const Lock lock(_lockFolder, fileKey);
    if (!_existsFile->exists(fileKey)) return std::nullopt;
    Stored stored{_loadFile->load(fileKey, 0), std::nullopt};
    if (_existsFile->exists(journal)) stored.journal = _loadFile->load(journal, 0);
    return stored;
}

std::uint64_t FileClassifierStore::size(const std::string& fileKey) const {
    const Lock lock(_lockFolder, fileKey);
    return _sizeFile->size(fileKey, false) + _sizeFile->size(journalPath(fileKey), false);
}

std::optional<std::uint64_t> FileClassifierStore::sizeWithoutJournal(
    const std::string& fileKey) const {
    const Lock lock(_lockFolder, fileKey);
    if (_existsFile->exists(fileKey) && _existsFile->exists(journalPath(fileKey))) {
        return std::nullopt;
    }
    return _sizeFile->size(fileKey, false);
}

void FileClassifierStore::save(const std::string& fileKey, std::string_view bytes) const {
    const Lock lock(_lockFolder, fileKey);
    _saveFile->save(fileKey, bytes);
    removeJournal(fileKey);
}

void FileClassifierStore::remove(const std::string& fileKey) const {
    const Lock lock(_lockFolder, fileKey);
    _removeFile->remove(fileKey);
    removeJournal(fileKey);
}

void FileClassifierStore::replaceJournal(const std::string& fileKey, std::string_view bytes) const {
    const Lock lock(_lockFolder, fileKey);
    releaseJournal(fileKey);
    _saveFile->save(journalPath(fileKey), bytes);
}

void FileClassifierStore::appendJournal(const std::string& fileKey, std::uint64_t offset,
                                        std::string_view bytes) const {
    const Lock lock(_lockFolder, fileKey);
    openJournal(fileKey)->write(offset, bytes);
}

void FileClassifierStore::syncJournal(const std::string& fileKey) const {
    // The journal stays in place meanwhile: its caller keeps the file's replacement and removal
    // waiting until the sync ends.
    openJournal(fileKey)->sync();
}

bool FileClassifierStore::journalInPlace(const std::string& fileKey) const {
    std::shared_ptr<io::filesystem::InPlaceFile> open;
    {
        const std::lock_guard held(_journalsMutex);
        if (const auto found = _journals.find(fileKey); found != _journals.end()) {
            // Two system calls a commit cost a sixth of a single-text train request; a journal
            // removed by hand is noticed within the interval instead.
            const auto now = std::chrono::steady_clock::now();
            std::optional<std::chrono::steady_clock::time_point>& checked = found->second.checked;
            if (checked && now - *checked < JournalCheckInterval) return true;
            checked = now;
            open = found->second.file;
        }
    }
    if (open) return open->atPath();
    return _existsFile->exists(journalPath(fileKey));
}

void FileClassifierStore::cutJournal(const std::string& fileKey, std::uint64_t length) const {
    const Lock lock(_lockFolder, fileKey);
    openJournal(fileKey)->truncate(length);
}

void FileClassifierStore::dropJournal(const std::string& fileKey) const {
    const Lock lock(_lockFolder, fileKey);
    removeJournal(fileKey);
}

void FileClassifierStore::releaseJournal(const std::string& fileKey) const noexcept {
    std::shared_ptr<io::filesystem::InPlaceFile> released;
    const std::lock_guard held(_journalsMutex);
    if (const auto found = _journals.find(fileKey); found != _journals.end()) {
        released = std::move(found->second.file);
        _journals.erase(found);
    }
}

std::shared_ptr<io::filesystem::InPlaceFile> FileClassifierStore::openJournal(
    const std::string& fileKey) const {
    std::shared_ptr<io::filesystem::InPlaceFile> closed;  // after the mutex, by its last holder
    const std::lock_guard held(_journalsMutex);
    if (const auto found = _journals.find(fileKey); found != _journals.end()) {
        found->second.used = ++_journalUses;
        return found->second.file;
    }
    std::shared_ptr<io::filesystem::InPlaceFile> journal =
        _saveFile->openInPlace(journalPath(fileKey));
    if (_journals.size() >= MaxOpenJournals) {
        auto oldest = _journals.begin();
        for (auto entry = _journals.begin(); entry != _journals.end(); ++entry) {
            if (entry->second.used < oldest->second.used) oldest = entry;
        }
        closed = std::move(oldest->second.file);
        _journals.erase(oldest);
    }
    _journals.emplace(fileKey, OpenJournal{journal, ++_journalUses, std::nullopt});
    return journal;
}

void FileClassifierStore::removeJournal(const std::string& fileKey) const noexcept {
    releaseJournal(fileKey);
    try {
        _removeFile->remove(journalPath(fileKey));
    } catch (...) {
        // Harmless when left: the header of a journal no longer matches a replaced file, so a
        // load ignores it and the next append writes a new one over it; and create removes a
        // journal without a file before it makes one.
    }
}

}  // namespace norvale::quillmark
