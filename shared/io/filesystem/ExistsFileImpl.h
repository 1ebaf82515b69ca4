#pragma once

#include "io/filesystem/ExistsFile.h"

namespace io::filesystem {

// A path that cannot be examined for a reason other than its absence (no permission to search
// a folder, a symbolic-link loop, an I/O error) counts as existing, so that callers never treat
// an unreadable file as free to create.
class ExistsFileImpl : public ExistsFile {
public:
    bool exists(const std::string& path) const override;
};

}  // namespace io::filesystem
