#pragma once

// The process working directory, which every relative path of the server is resolved against.
// It is process-wide state: change it only at start-up, before other threads run.

#include <string>

#include "exceptions/Exception.h"

namespace posix::file {

class CurrentDirectoryException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class SetCurrentDirectoryException : public CurrentDirectoryException {
public:
    using CurrentDirectoryException::CurrentDirectoryException;
};

class GetCurrentDirectoryException : public CurrentDirectoryException {
public:
    using CurrentDirectoryException::CurrentDirectoryException;
};

class CurrentDirectory {
public:
    virtual ~CurrentDirectory() = default;

    virtual void set(const std::string& path) = 0;
    virtual std::string get() const = 0;
};

}  // namespace posix::file
