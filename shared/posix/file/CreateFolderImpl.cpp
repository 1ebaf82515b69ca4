#include "posix/file/CreateFolderImpl.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::file {

void CreateFolderImpl::create(const std::string& path, bool failIfExists) const {
    if (::mkdir(path.c_str(), 0777) == 0) return;
    const int error = errno;
    if (error == EEXIST && !failIfExists) return;
    throw CreateFolderException("Could not create the directory: " + path + ".\n\n" +
                                platform::errorresources::systemErrorText(error));
}

}  // namespace posix::file
