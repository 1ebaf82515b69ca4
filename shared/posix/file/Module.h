#pragma once

// The full path of one module of this process, fixed at construction (the executable, or a
// library handle from dlopen). Stateless after construction, any thread.

#include <string>

#include "posix/file/PosixFileException.h"

namespace posix::file {

class ModuleException : public PosixFileException {
public:
    using PosixFileException::PosixFileException;
};

class Module {
public:
    virtual ~Module() = default;

    virtual std::string fileName() const = 0;
};

}  // namespace posix::file
