#pragma once

// Deletes a file; deleting a file that is not there succeeds (the repository removes classifiers
// that may never have been stored). Created once at start-up, shared by pointer, any thread.

#include <string>

#include "io/IOException.h"

namespace io::filesystem {

class RemoveFileException : public IOException {
public:
    using IOException::IOException;
};

class RemoveFile {
public:
    virtual ~RemoveFile() = default;

    virtual void remove(const std::string& path) const = 0;
};

}  // namespace io::filesystem
