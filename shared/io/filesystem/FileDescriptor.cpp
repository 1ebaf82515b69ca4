#include "io/filesystem/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace io::filesystem {

FileDescriptor::~FileDescriptor() {
    close();
}

bool FileDescriptor::close() {
    if (_descriptor < 0) return true;
    const int descriptor = _descriptor;
    _descriptor = -1;
    // Linux releases the descriptor even when close fails, so it is never retried.
    return ::close(descriptor) == 0;
}

bool writeAll(int descriptor, const char* data, unsigned long size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<unsigned long>(written);
    }
    return true;
}

}  // namespace io::filesystem
