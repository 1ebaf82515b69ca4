#include "posix/file/DiskSpaceImpl.h"

#include <sys/statvfs.h>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::file {

std::uint64_t DiskSpaceImpl::available(const std::string& folder) const {
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) != 0) {
        throw DiskSpaceException("Could not get the amount of free disk space for the directory " +
                                 folder + platform::errorresources::lastSystemErrorText());
    }
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

}  // namespace posix::file
