#pragma once

// Removes the temporary files that saves of killed processes left in a folder of classifier files
// (see TemporarySaveName). A temporary file whose process still exists is another server's save in
// progress on the same folder and is kept. Runs at start-up, before any save of this process.

#include <string>

#include "io/filesystem/RemoveFile.h"
#include "server/Log.h"

namespace norvale::quillmark {

class LeftoverSaveFiles {
public:
    // Nothing is owned.
    LeftoverSaveFiles(const io::filesystem::RemoveFile* removeFile, Log* log);

    // Only the folder itself, not the folders below it. Logs each removed file; a file that cannot
    // be removed is logged as an error and left for the next start-up.
    void removeFrom(const std::string& folder) const;

private:
    void removeFile(const std::string& path) const;

    const io::filesystem::RemoveFile* _removeFile;
    Log* _log;
};

}  // namespace norvale::quillmark
