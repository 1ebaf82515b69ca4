#pragma once

#include "io/filesystem/RotateFile.h"

namespace io::filesystem {

class RotateFileImpl : public RotateFile {
public:
    std::uint64_t size(const std::string& path) const override;
    void rotate(const std::string& path, int keep) const override;
};

}  // namespace io::filesystem
