#pragma once

#include "io/filesystem/LoadFile.h"

namespace io::filesystem {

// Loads regular files of at most 2147483647 bytes.
class LoadFileImpl : public LoadFile {
public:
    std::string load(const std::string& path, std::uint64_t byteCount) const override;
};

}  // namespace io::filesystem
