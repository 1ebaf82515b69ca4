#pragma once

#include "posix/file/DiskSpace.h"

namespace posix::file {

class DiskSpaceImpl : public DiskSpace {
public:
    std::uint64_t available(const std::string& folder) const override;
};

}  // namespace posix::file
