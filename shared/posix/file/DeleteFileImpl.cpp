#include "posix/file/DeleteFileImpl.h"

#include <unistd.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::file {

void DeleteFileImpl::deleteFile(const std::string& path, bool failIfMissing) const {
    if (::unlink(path.c_str()) == 0) return;
    const int error = errno;
    if ((error == ENOENT || error == ENOTDIR) && !failIfMissing) return;
    const std::string text = platform::errorresources::systemErrorText(error);
    if (error == EACCES || error == EPERM || error == EROFS) {
        throw DeleteFileAccessDeniedException(
            "Access was denied when trying to delete the file: " + path + "\n" + text);
    }
    throw DeleteFileExceptionImpl("Couldn't delete the file: " + path + "\n" + text);
}

}  // namespace posix::file
