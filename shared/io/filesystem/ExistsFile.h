#pragma once

// Tells whether a file (anything but a folder) exists at a path. Created once at start-up and
// shared by pointer; implementations are stateless and may be called from any thread.

#include <string>

namespace io::filesystem {

class ExistsFile {
public:
    virtual ~ExistsFile() = default;

    virtual bool exists(const std::string& path) const = 0;
};

}  // namespace io::filesystem
