#include "io/filesystem/RotateFileImpl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "io/filesystem/FileDiagnostics.h"

namespace io::filesystem {

namespace {

std::string numbered(const std::string& path, int n) {
    return path + "." + std::to_string(n);
}

bool missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

}  // namespace

std::uint64_t RotateFileImpl::size(const std::string& path) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return static_cast<std::uint64_t>(status.st_size);
    const int error = errno;
    if (missing(error)) return 0;
    throw RotateFileException("Couldn't read the size of the file using the 'stat' system call." +
                              diagnosticTail(path, error));
}

void RotateFileImpl::rotate(const std::string& path, int keep) const {
    const std::string oldest = keep > 0 ? numbered(path, keep) : path;
    if (::unlink(oldest.c_str()) != 0 && !missing(errno)) {
        const int error = errno;
        throw RotateFileException(
            "Couldn't remove the oldest copy using the 'unlink' system call." +
            diagnosticTail(oldest, error));
    }
    for (int n = keep - 1; n >= 0; --n) {
        const std::string from = n > 0 ? numbered(path, n) : path;
        if (::rename(from.c_str(), numbered(path, n + 1).c_str()) != 0 && !missing(errno)) {
            const int error = errno;
            throw RotateFileException(
                "Couldn't move the file aside using the 'rename' system call." +
                diagnosticTail(from, error));
        }
    }
}

}  // namespace io::filesystem
