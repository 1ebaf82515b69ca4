#pragma once

// Free disk space available to this process on the volume that holds a folder (the request
// archive skips saving when it runs low). Created once at start-up, shared by pointer, any thread.

#include <cstdint>
#include <string>

#include "exceptions/Exception.h"

namespace posix::file {

class DiskSpaceException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class DiskSpace {
public:
    virtual ~DiskSpace() = default;

    // Bytes an unprivileged writer may still use (space reserved for root is not counted).
    virtual std::uint64_t available(const std::string& folder) const = 0;
};

}  // namespace posix::file
