#include "server/LeftoverSaveFiles.h"

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "io/filesystem/TemporarySaveName.h"

namespace norvale::quillmark {

namespace {

// The state letter of /proc/<pid>/stat, after the parenthesised command name (which may itself
// hold spaces and parentheses); 0 when it cannot be read.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return 0;
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 0;
}

// A zombie has ended and only waits for its parent to collect its status: its files are as
// abandoned as those of a process that is gone. EPERM means the process exists but belongs to
// someone else.
bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0) return errno == ESRCH;
    const char state = processState(pid);
    return state == 'Z' || state == 'X';
}

// The save files this server writes are those of classifier files and journals; whatever else
// looks like one belongs to somebody else.
bool ofClassifier(const std::string& saveName) {
    const std::string target = saveName.substr(0, saveName.rfind(".tmp-"));
    return target.ends_with(".dat") || target.ends_with(".dat.journal");
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
        const std::string name = entry->path().filename().native();
        const std::optional<pid_t> owner = io::filesystem::TemporarySaveName::owner(name);
        if (owner && ofClassifier(name) && processGone(*owner)) removeFile(entry->path().string());
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
