#pragma once

// Reads a whole file, or its first bytes, into memory (classifier files). Created once at
// start-up and shared by pointer; implementations are stateless and may be called from any
// thread. Every failure message ends with the file's diagnostic tail.

#include <cstdint>
#include <string>

#include "io/IOException.h"

namespace io::filesystem {

class LoadFileException : public IOException {
public:
    using IOException::IOException;
};

class LoadFileExceptionImpl : public LoadFileException {
public:
    using LoadFileException::LoadFileException;
};

// Another process holds a lock (a lease) that forbids reading now.
class LoadFileLockedViolationException : public LoadFileException {
public:
    using LoadFileException::LoadFileException;
};

class LoadFileSharingViolationException : public LoadFileException {
public:
    using LoadFileException::LoadFileException;
};

class LoadFile {
public:
    virtual ~LoadFile() = default;

    // The first `byteCount` bytes of the file, or all of it when `byteCount` is 0.
    virtual std::string load(const std::string& path, std::uint64_t byteCount) const = 0;
};

}  // namespace io::filesystem
