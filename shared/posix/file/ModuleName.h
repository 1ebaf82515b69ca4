#pragma once

// Full path of a module loaded into this process: the executable (start-up moves the working
// directory to its folder) or a shared library. Stateless, any thread.

#include <string>

#include "exceptions/Exception.h"

namespace posix::file {

class ModuleNameException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class ModuleName {
public:
    virtual ~ModuleName() = default;

    // `module` is a shared library's name as given to the loader ("libc.so.6"); the empty name
    // stands for the executable. A library that is not loaded is an error.
    virtual std::string fileName(const std::string& module) const = 0;
};

}  // namespace posix::file
