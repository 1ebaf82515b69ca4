#include "io/filesystem/ExistsDirImpl.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

namespace io::filesystem {

bool ExistsDirImpl::exists(const std::string& path) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == EINVAL) {
        return false;
    }
    throw ExistsDirException("An error occured when checking if the directory \" " + path +
                             "\" exists. " + platform::errorresources::systemErrorText(error));
}

}  // namespace io::filesystem
