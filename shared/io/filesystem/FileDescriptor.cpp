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

namespace {

// write (offset below 0) or pwrite at offset, resumed after short writes and signals.
bool writeEvery(int descriptor, const char* data, unsigned long size, off_t offset) {
    while (size > 0) {
        const ssize_t written =
            offset < 0 ? ::write(descriptor, data, size) : ::pwrite(descriptor, data, size, offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<unsigned long>(written);
        if (offset >= 0) offset += written;
    }
    return true;
}

}  // namespace

bool writeAll(int descriptor, const char* data, unsigned long size) {
    return writeEvery(descriptor, data, size, -1);
}

bool writeAllAt(int descriptor, const char* data, unsigned long size, std::uint64_t offset) {
    return writeEvery(descriptor, data, size, static_cast<off_t>(offset));
}

}  // namespace io::filesystem
