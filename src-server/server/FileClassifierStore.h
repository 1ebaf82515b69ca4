#pragma once

// The classifiers of a folder: each one a file (the classifier's bytes) with its journal beside
// it. A file key is the file's path with its file-name part lower-cased (see fileKey), the
// journal's path that key + ".journal".
//
// Every operation on a key holds a named lock (an flock in lockFolder, created anew for that
// operation), so that servers sharing a folder never see each other's half-done file work; only
// syncJournal runs without it, so that the next append need not wait for a sync. Operations may
// be called from any thread at once; the caller serialises the appends and cuts of one journal
// (the repository does so under the classifier's writer side).
//
// A journal is written in place (io::filesystem::InPlaceFile) and held open from its first
// append until it is replaced, dropped or released, or until it is the least recently used of
// more than MaxOpenJournals held open (so that classifiers, however many, cost a bounded number
// of descriptors; its next append opens it again): an append is one write and a sync one
// fdatasync, and while appends fall inside the zero bytes written ahead of them, the sync
// flushes their data alone. So a journal file may end in up to 64 KiB of zero bytes after its
// last record. The collaborators are not owned and must outlive the store.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "io/filesystem/ExistsFile.h"
#include "io/filesystem/LoadFile.h"
#include "io/filesystem/RemoveFile.h"
#include "io/filesystem/SaveFile.h"
#include "io/filesystem/SizeFile.h"

namespace norvale::quillmark {

class FileClassifierStore {
public:
    static constexpr std::size_t MaxOpenJournals = 16;
    static constexpr std::chrono::seconds JournalCheckInterval{1};

    // What a load finds: the classifier's file and its journal, when there is one.
    struct Stored {
        std::string file;
        std::optional<std::string> journal;
    };

    FileClassifierStore(const io::filesystem::LoadFile* loadFile,
                        const io::filesystem::SaveFile* saveFile,
                        const io::filesystem::ExistsFile* existsFile,
                        const io::filesystem::SizeFile* sizeFile,
                        const io::filesystem::RemoveFile* removeFile, std::string lockFolder);
    FileClassifierStore(const FileClassifierStore&) = delete;
    FileClassifierStore& operator=(const FileClassifierStore&) = delete;

    // The key with its file-name part lower-cased (ASCII letters only).
    static std::string fileKey(std::string_view key);
    // The path of the journal beside a classifier file.
    static std::string journalPath(const std::string& fileKey);

    // Prepares a new classifier's file: false when the file exists. A journal left without its
    // file (by a remove that stopped between the two) is deleted, so that it cannot extend the
    // new file.
    [[nodiscard]] bool create(const std::string& fileKey) const;
    // Both files read at one moment; empty when the classifier's file is missing.
    std::optional<Stored> load(const std::string& fileKey) const;
    // The bytes of the file and its journal.
    std::uint64_t size(const std::string& fileKey) const;
    // The bytes of the file when no journal extends it (a missing file: 0); empty when there is
    // a journal, whose records only a load can count.
    std::optional<std::uint64_t> sizeWithoutJournal(const std::string& fileKey) const;
    // Replaces the file by bytes atomically, then drops the journal.
    void save(const std::string& fileKey, std::string_view bytes) const;
    // Deletes the file, then the journal; missing ones are fine.
    void remove(const std::string& fileKey) const;

    // Replaces the journal by bytes atomically (a new journal with its first record, or one cut
    // back to its whole records).
    void replaceJournal(const std::string& fileKey, std::string_view bytes) const;
    // Writes bytes at offset, the end of the journal's records; a failure leaves the records as
    // they were.
    void appendJournal(const std::string& fileKey, std::uint64_t offset,
                       std::string_view bytes) const;
    // Makes every append so far durable.
    void syncJournal(const std::string& fileKey) const;
    // Whether the journal that appends extend is still at its path: false once it was removed or
    // replaced from outside (the appends would no longer reach the path). A journal held open is
    // looked at once per JournalCheckInterval; in between it counts as in place.
    bool journalInPlace(const std::string& fileKey) const;
    // Cuts the journal back to length bytes, durably.
    void cutJournal(const std::string& fileKey, std::uint64_t length) const;
    // Deletes the journal (one that extends another file); a failure to delete it is left alone
    // (see removeJournal).
    void dropJournal(const std::string& fileKey) const;
    // Closes the journal held open for fileKey (its classifier left memory); the next append
    // opens it again.
    void releaseJournal(const std::string& fileKey) const noexcept;

private:
    class Lock;

    // The journal held open for fileKey, opened when it is not.
    std::shared_ptr<io::filesystem::InPlaceFile> openJournal(const std::string& fileKey) const;
    // releaseJournal and the file's removal, with the named lock held.
    void removeJournal(const std::string& fileKey) const noexcept;

    const io::filesystem::LoadFile* _loadFile;
    const io::filesystem::SaveFile* _saveFile;
    const io::filesystem::ExistsFile* _existsFile;
    const io::filesystem::SizeFile* _sizeFile;
    const io::filesystem::RemoveFile* _removeFile;
    const std::string _lockFolder;
    // A journal held open and when it was last used.
    struct OpenJournal {
        std::shared_ptr<io::filesystem::InPlaceFile> file;
        std::uint64_t used = 0;
        // When journalInPlace last looked at the file; none yet.
        std::optional<std::chrono::steady_clock::time_point> checked;
    };

    mutable std::mutex _journalsMutex;
    // Shared with the syncs running on them, which the release of a journal does not cut short.
    mutable std::map<std::string, OpenJournal> _journals;
    mutable std::uint64_t _journalUses = 0;
};

}  // namespace norvale::quillmark
