#pragma once

#include "io/filesystem/SizeFile.h"

namespace io::filesystem {

// Needs no read permission on the file itself; a folder is not a file and fails.
class SizeFileImpl : public SizeFile {
public:
    std::uint64_t size(const std::string& path, bool failIfMissing) const override;
};

}  // namespace io::filesystem
