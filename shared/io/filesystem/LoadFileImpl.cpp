#include "io/filesystem/LoadFileImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "io/filesystem/FileDescriptor.h"
#include "io/filesystem/FileDiagnostics.h"

namespace io::filesystem {

namespace {

constexpr std::uint64_t MaxFileSize = 2147483647;

template <typename ExceptionType = LoadFileExceptionImpl>
[[noreturn]] void fail(const std::string& message, const std::string& path, int error) {
    throw ExceptionType(message + diagnosticTail(path, error));
}

// Lock and sharing violations get their own types so callers can retry them.
[[noreturn]] void failWith(int error, const std::string& path, const char* lockedText,
                           const char* sharingText, const char* otherText) {
    if (error == EWOULDBLOCK || error == EAGAIN) {
        fail<LoadFileLockedViolationException>(lockedText, path, error);
    }
    if (error == ETXTBSY) fail<LoadFileSharingViolationException>(sharingText, path, error);
    fail(otherText, path, error);
}

struct OpenedFile {
    int descriptor = -1;
    int error = 0;
    bool sizeUnknown = false;  // opened, but fstat failed
    std::uint64_t size = 0;
};

// O_NONBLOCK keeps the open from hanging on a FIFO and makes a conflicting lease fail at once.
// Only regular files are loaded; a folder fails as EISDIR, anything else as EINVAL.
OpenedFile openRegularFile(const std::string& path) {
    OpenedFile opened;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        opened.error = errno;
        return opened;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        opened.error = errno;
        opened.sizeUnknown = true;
    } else if (!S_ISREG(status.st_mode)) {
        opened.error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    } else {
        opened.descriptor = descriptor;
        opened.size = static_cast<std::uint64_t>(status.st_size);
        return opened;
    }
    ::close(descriptor);
    return opened;
}

void readAll(int descriptor, std::string& bytes, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::read(descriptor, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            failWith(errno, path, "A file lock violation occurred when trying to load the file.",
                     "A sharing violation occurred when trying to load the file.",
                     "An error occurred while trying to load the file.");
        }
        // The file shrank while it was read.
        if (count == 0) fail("An error occurred while trying to load the file.", path, 0);
        done += static_cast<std::size_t>(count);
    }
}

}  // namespace

std::string LoadFileImpl::load(const std::string& path, std::uint64_t byteCount) const {
    if (path.empty()) fail("Cannot load file. No filename specified.", path, 0);
    const OpenedFile opened = openRegularFile(path);
    if (opened.sizeUnknown) {
        fail("An error occurred while trying to get the size of the file.", path, opened.error);
    }
    if (opened.descriptor < 0) {
        failWith(opened.error, path,
                 "A file lock violation occurred when trying to open the file for reading.",
                 "A sharing violation occurred when trying to open the file for reading.",
                 "An error occurred when trying to open the file for reading.");
    }
    FileDescriptor file(opened.descriptor);
    const std::uint64_t size = opened.size;
    if (byteCount > size) {
        fail(
            "Tried to read a larger number of bytes from a file that it contained. Tried to "
            "read : " +
                std::to_string(byteCount) + " File size: " + std::to_string(size),
            path, 0);
    }
    const std::uint64_t toRead = byteCount == 0 ? size : byteCount;
    if (toRead > MaxFileSize) {
        fail("Could not load the file because the file size was too big. The file size is " +
                 std::to_string(size) + ". The file cannot be bigger than " +
                 std::to_string(MaxFileSize) + " bytes.",
             path, 0);
    }
    std::string bytes(static_cast<std::size_t>(toRead), '\0');
    readAll(file.get(), bytes, path);
    return bytes;
}

}  // namespace io::filesystem
