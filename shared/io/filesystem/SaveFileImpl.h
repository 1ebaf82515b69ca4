#pragma once

#include "io/filesystem/SaveFile.h"

namespace io::filesystem {

// save writes a temporary file beside the target (TemporarySaveName), flushes it to disk,
// renames it over the target and flushes the folder. A writer killed before the rename
// leaves the old file intact (and possibly its temporary file behind). The replaced file keeps
// the permission bits of the file it replaces.
class SaveFileImpl : public SaveFile {
public:
    void save(const std::string& path, std::string_view bytes) const override;
    std::unique_ptr<AppendFile> openAppend(const std::string& path) const override;
    std::unique_ptr<InPlaceFile> openInPlace(const std::string& path) const override;
};

}  // namespace io::filesystem
