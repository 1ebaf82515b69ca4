#pragma once

// Deletes one file. Created once at start-up and shared by pointer; stateless, any thread.

#include <string>

#include "exceptions/Exception.h"

namespace posix::file {

class DeleteFileException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class DeleteFileAccessDeniedException : public DeleteFileException {
public:
    using DeleteFileException::DeleteFileException;
};

class DeleteFileExceptionImpl : public DeleteFileException {
public:
    using DeleteFileException::DeleteFileException;
};

class DeleteFile {
public:
    virtual ~DeleteFile() = default;

    // A missing file is accepted unless `failIfMissing` is set.
    virtual void deleteFile(const std::string& path, bool failIfMissing) const = 0;
};

}  // namespace posix::file
