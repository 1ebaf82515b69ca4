#pragma once

#include <cstdint>
#include <utility>

namespace io::filesystem {

// Owns one open file descriptor and closes it when it goes out of scope. close() reports
// failure (errno set) for callers that must know the data reached the file.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : _descriptor(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept
        : _descriptor(std::exchange(other._descriptor, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            _descriptor = std::exchange(other._descriptor, -1);
        }
        return *this;
    }
    ~FileDescriptor();

    bool valid() const { return _descriptor >= 0; }
    int get() const { return _descriptor; }
    bool close();

private:
    int _descriptor;
};

// Writes every byte, resuming after short writes and signals. False with errno set on failure.
bool writeAll(int descriptor, const char* data, unsigned long size);
// The same at offset, leaving the file position alone.
bool writeAllAt(int descriptor, const char* data, unsigned long size, std::uint64_t offset);

}  // namespace io::filesystem
