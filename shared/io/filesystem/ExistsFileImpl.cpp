#include "io/filesystem/ExistsFileImpl.h"

#include <sys/stat.h>

#include <cerrno>

namespace io::filesystem {

namespace {

// The errors that mean nothing can be at the path: missing entry, a path component that is
// not a folder, a name the system refuses, a device that is not there.
bool meansMissing(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool ExistsFileImpl::exists(const std::string& path) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return !S_ISDIR(status.st_mode);
    return !meansMissing(errno);
}

}  // namespace io::filesystem
