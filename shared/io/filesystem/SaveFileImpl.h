#pragma once

#include "io/filesystem/SaveFile.h"

namespace io::filesystem {

// Replace writes a temporary file beside the target (TemporarySaveName), flushes it to
// disk, renames it over the target and flushes the folder. A writer killed before the rename
// leaves the old file intact (and possibly its temporary file behind). The replaced file keeps
// the permission bits of the file it replaces.
class SaveFileImpl : public SaveFile {
public:
    void save(const std::string& path, std::string_view bytes, SaveMode mode) const override;
    std::unique_ptr<AppendFile> openAppend(const std::string& path) const override;
    void sync(const std::string& path) const override;
    void truncate(const std::string& path, std::uint64_t length) const override;

private:
    void replace(const std::string& path, std::string_view bytes) const;
    void appendWhole(const std::string& path, std::string_view bytes) const;
};

}  // namespace io::filesystem
