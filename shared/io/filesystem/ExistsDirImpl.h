#pragma once

#include "io/filesystem/ExistsDir.h"

namespace io::filesystem {

class ExistsDirImpl : public ExistsDir {
public:
    bool exists(const std::string& path) const override;
};

}  // namespace io::filesystem
