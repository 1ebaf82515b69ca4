#pragma once

// Writes bytes to a file: Replace swaps in a complete new file atomically (classifier files, the
// request archive), AppendWhole adds to the end of an existing file and leaves nothing of a failed
// append (the journals, made durable by sync, so that several appends share one sync);
// openAppend keeps a file open for a stream of appends (the log). Created once at start-up and
// shared by pointer; may be called from any thread, but concurrent saves to one path must be
// serialised by the caller. Every failure message ends with the diagnostic tail.

#include <cstdint>
#include <memory>
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
    // Append to an existing file; a failed save cuts the file back to its old length, so no
    // partial write stays at its end. Durable only after sync.
    AppendWhole,
};

// A file held open for appending, so that a stream of small appends (log lines) costs a write
// each rather than an open, a write and a close. A file removed meanwhile is created again within
// a second; one moved away keeps receiving the appends until the handle is dropped.
class AppendFile {
public:
    virtual ~AppendFile() = default;

    // Adds bytes at the end; throws SaveFileException when the file cannot be opened again or
    // written.
    virtual void append(std::string_view bytes) = 0;
};

class SaveFile {
public:
    virtual ~SaveFile() = default;

    virtual void save(const std::string& path, std::string_view bytes, SaveMode mode) const = 0;
    // Opens path for appending, creating it when missing.
    virtual std::unique_ptr<AppendFile> openAppend(const std::string& path) const = 0;
    // Makes what was written to the file durable (fdatasync).
    virtual void sync(const std::string& path) const = 0;
    // Cuts the file back to length bytes, durably.
    virtual void truncate(const std::string& path, std::uint64_t length) const = 0;
};

}  // namespace io::filesystem
