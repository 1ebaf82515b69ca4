#pragma once

// Tells whether a folder exists at a path. Created once at start-up and shared by pointer;
// implementations are stateless and may be called from any thread.

#include <string>

#include "exceptions/Exception.h"

namespace io::filesystem {

class ExistsDirException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class ExistsDir {
public:
    virtual ~ExistsDir() = default;

    // Throws ExistsDirException when the answer cannot be known.
    virtual bool exists(const std::string& path) const = 0;
};

}  // namespace io::filesystem
