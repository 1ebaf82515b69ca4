#include "server/LeftoverSaveFiles.h"

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "io/filesystem/TemporarySaveName.h"

namespace norvale::quillmark {

namespace {

// EPERM means the process exists but belongs to someone else.
bool processGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

LeftoverSaveFiles::LeftoverSaveFiles(const io::filesystem::RemoveFile* removeFile, Log* log)
    : _removeFile(removeFile), _log(log) {}

void LeftoverSaveFiles::removeFrom(const std::string& folder) const {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code typeError;
        if (!entry->is_regular_file(typeError)) continue;
        const std::optional<pid_t> owner =
            io::filesystem::TemporarySaveName::owner(entry->path().filename().native());
        if (owner && processGone(*owner)) removeFile(entry->path().string());
    }
}

void LeftoverSaveFiles::removeFile(const std::string& path) const {
    try {
        _removeFile->remove(path);
    } catch (const io::filesystem::RemoveFileException& e) {
        _log->error(e.what());
        return;
    }
    _log->log("Removed the leftover save file '" + path + "'.");
}

}  // namespace norvale::quillmark
