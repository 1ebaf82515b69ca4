#include "io/filesystem/RemoveFileImpl.h"

#include <unistd.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

namespace io::filesystem {

void RemoveFileImpl::remove(const std::string& path) const {
    if (::unlink(path.c_str()) == 0) return;
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) return;
    throw RemoveFileException("Couldn't delete the file '" + path +
                              "' file using the 'DeleteFile' system call.\n" +
                              platform::errorresources::systemErrorText(error));
}

}  // namespace io::filesystem
