#pragma once

// Writes bytes to a file: Replace swaps in a complete new file atomically (classifier files, the
// request archive), Append adds to the end, creating a missing file (the log), AppendWhole adds
// to the end of an existing file and leaves nothing of a failed append (the journals, made
// durable by sync, so that several appends share one sync). Created once at
// start-up and shared by pointer; may be called from any thread, but concurrent saves to one
// path must be serialised by the caller. Every failure message ends with the diagnostic tail.

#include <cstdint>
#include <string>
#include <string_view>

#include "io/IOException.h"

namespace io::filesystem {

class SaveFileException : public IOException {
public:
    using IOException::IOException;
};

class SaveFileExceptionImpl : public SaveFileException {
public:
    using SaveFileException::SaveFileException;
};

enum class SaveMode {
    // After a crash at any moment the file holds either its old or its new content.
    Replace,
    Append,
    // Append to an existing file; a failed save cuts the file back to its old length, so no
    // partial write stays at its end. Durable only after sync.
    AppendWhole,
};

class SaveFile {
public:
    virtual ~SaveFile() = default;

    virtual void save(const std::string& path, std::string_view bytes, SaveMode mode) const = 0;
    // Makes what was written to the file durable (fdatasync).
    virtual void sync(const std::string& path) const = 0;
    // Cuts the file back to length bytes, durably.
    virtual void truncate(const std::string& path, std::uint64_t length) const = 0;
};

}  // namespace io::filesystem
