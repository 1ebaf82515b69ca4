#pragma once

// Writes bytes to a file: save swaps in a complete new file atomically (classifier files, the
// request archive); openAppend keeps a file open for a stream of appends (the log); openInPlace
// keeps a file open for writes at offsets its owner keeps (the journals, made durable by sync, so
// that several writes share one sync). Created once at start-up and shared by pointer; may be
// called from any thread, but concurrent saves to one path must be serialised by the caller.
// Every failure message ends with the diagnostic tail.

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

// A file held open for appending, so that a stream of small appends (log lines) costs a write
// each rather than an open, a write and a close. A file removed meanwhile is created again within
// a second; one moved away keeps receiving the appends until the handle is dropped.
class AppendFile {
public:
    virtual ~AppendFile() = default;

    // Adds bytes at the end; true when they began a file created again because the one open had
    // been removed. Throws SaveFileException when the file cannot be opened again or written.
    virtual bool append(std::string_view bytes) = 0;
};

// An existing file held open for writes at the end of its content, which its owner keeps: the
// file may be longer, every byte after the content being zero. Space after the content is
// written ahead as zero bytes, 64 KiB at a time, so that while a write falls inside it the file's
// length stays and a sync flushes the written data alone. Writes and cuts must be serialised by
// the owner; a sync may run beside them, from another thread.
class InPlaceFile {
public:
    virtual ~InPlaceFile() = default;

    // Writes bytes at offset, the end of the content. A failure cuts the file at offset, so
    // nothing of it stays. Durable only after sync.
    virtual void write(std::uint64_t offset, std::string_view bytes) = 0;
    // Makes every write so far durable (fdatasync).
    virtual void sync() = 0;
    // Cuts the file to length bytes, durably; the zero bytes ahead go with the rest.
    virtual void truncate(std::uint64_t length) = 0;
    // Whether the open file is still the one at its path: false once it was removed or replaced
    // from outside, when writes to it no longer reach the path.
    virtual bool atPath() const = 0;
};

class SaveFile {
public:
    virtual ~SaveFile() = default;

    // Replaces the file by bytes: after a crash at any moment it holds its old or its new content.
    virtual void save(const std::string& path, std::string_view bytes) const = 0;
    // Opens path for appending, creating it when missing.
    virtual std::unique_ptr<AppendFile> openAppend(const std::string& path) const = 0;
    // Opens the existing file at path for writes in place.
    virtual std::unique_ptr<InPlaceFile> openInPlace(const std::string& path) const = 0;
};

}  // namespace io::filesystem
