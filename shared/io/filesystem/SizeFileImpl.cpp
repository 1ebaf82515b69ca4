#include "io/filesystem/SizeFileImpl.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "debug/assertion.h"
#include "io/filesystem/FileDescriptor.h"
#include "io/filesystem/FileDiagnostics.h"
#include "platform/errorresources/SystemErrorText.h"

namespace io::filesystem {

namespace {

[[noreturn]] void fail(const std::string& message, const std::string& path, int error) {
    throw SizeFileException(message + platform::errorresources::systemErrorText(error) +
                            diagnosticTail(path, error));
}

}  // namespace

std::uint64_t SizeFileImpl::size(const std::string& path, bool failIfMissing) const {
    const std::string openFailed = "Failed to open '" + path + "' while getting file size.\n";
    FileDescriptor file(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        if ((error == ENOENT || error == ENOTDIR) && !failIfMissing) return 0;
        fail(openFailed, path, error);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        fail("Failed to get file size for '" + path + "' using 'GetFileSizeEx'.\n", path, errno);
    }
    if (S_ISDIR(status.st_mode)) fail(openFailed, path, EISDIR);
    const bool closed = file.close();
    QM_ASSERT(closed, "Couldn't close the file after getting its size.");
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace io::filesystem
