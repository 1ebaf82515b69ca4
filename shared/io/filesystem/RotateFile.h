#pragma once

// Keeps a file that only grows (the log) within bounds: tells its size, and moves it aside into
// numbered copies, "<path>.1" the newest, so that the next append starts a new file. Created
// once at start-up and shared by pointer; stateless, any thread, but rotations of one path must
// be serialised by the caller. Failure messages end with the diagnostic tail.

#include <cstdint>
#include <string>

#include "io/IOException.h"

namespace io::filesystem {

class RotateFileException : public IOException {
public:
    using IOException::IOException;
};

class RotateFile {
public:
    virtual ~RotateFile() = default;

    // 0 for a missing file.
    virtual std::uint64_t size(const std::string& path) const = 0;
    // Drops "<path>.<keep>", renames "<path>.<n>" to "<path>.<n+1>" for n = keep-1 down to 1,
    // then "<path>" to "<path>.1". With keep 0 the file is removed. Missing files are skipped.
    virtual void rotate(const std::string& path, int keep) const = 0;
};

}  // namespace io::filesystem
