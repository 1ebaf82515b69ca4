#pragma once

// Tells the size of a file without reading it (the repository's memory estimate). Created once
// at start-up and shared by pointer; stateless, any thread. Failure messages end with the
// diagnostic tail.

#include <cstdint>
#include <string>

#include "io/filesystem/LoadFile.h"

namespace io::filesystem {

class SizeFileException : public LoadFileException {
public:
    using LoadFileException::LoadFileException;
};

class SizeFile {
public:
    virtual ~SizeFile() = default;

    // A missing file has size 0 unless `failIfMissing` is set, when it throws SizeFileException.
    virtual std::uint64_t size(const std::string& path, bool failIfMissing) const = 0;
};

}  // namespace io::filesystem
