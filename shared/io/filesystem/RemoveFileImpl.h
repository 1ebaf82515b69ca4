#pragma once

#include "io/filesystem/RemoveFile.h"

namespace io::filesystem {

class RemoveFileImpl : public RemoveFile {
public:
    void remove(const std::string& path) const override;
};

}  // namespace io::filesystem
