#include "io/filesystem/SaveFileImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <utility>

#include "io/filesystem/FileDescriptor.h"
#include "io/filesystem/FileDiagnostics.h"
#include "io/filesystem/TemporarySaveName.h"

namespace io::filesystem {

namespace {

constexpr std::uint64_t MaxDataSize = 2147483647;
constexpr const char* OpenFailed = "An error occurred when trying to open the file for writing.";
constexpr const char* WriteFailed = "An error occurred when trying to write the file.";

[[noreturn]] void fail(const std::string& message, const std::string& path, int error) {
    throw SaveFileExceptionImpl(message + diagnosticTail(path, error));
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Unique among the threads and processes that may save beside each other.
std::string temporaryName(const std::string& path) {
    static std::atomic<std::uint64_t> counter{0};
    return TemporarySaveName::make(path, ::getpid(), ++counter);
}

// Removes the temporary file unless the rename has consumed it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string name) : _name(std::move(name)) {}
    ~TemporaryFile() {
        if (!_renamed) ::unlink(_name.c_str());
    }
    const std::string& name() const { return _name; }
    void renamed() { _renamed = true; }

private:
    std::string _name;
    bool _renamed = false;
};

// Some file systems cannot flush a folder (EINVAL); their renames are then as durable as
// they can be made.
bool syncFolder(const std::string& folder) {
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) return false;
    return ::fsync(directory.get()) == 0 || errno == EINVAL;
}

FileDescriptor openForAppend(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!file.valid()) fail(OpenFailed, path, errno);
    return file;
}

// Whether the file was removed is asked at most once a second, so that an append costs one
// system call.
class OpenAppendFile : public AppendFile {
public:
    explicit OpenAppendFile(std::string path)
        : _path(std::move(path)), _file(openForAppend(_path)), _checked(Clock::now()) {}

    bool append(std::string_view bytes) override {
        const Clock::time_point now = Clock::now();
        bool created = false;
        if (now - _checked >= std::chrono::seconds(1)) {
            struct stat status {};
            if (::fstat(_file.get(), &status) == 0 && status.st_nlink == 0) {
                _file = openForAppend(_path);
                created = true;
            }
            _checked = now;
        }
        if (!writeAll(_file.get(), bytes.data(), bytes.size())) fail(WriteFailed, _path, errno);
        return created;
    }

private:
    using Clock = std::chrono::steady_clock;

    const std::string _path;
    FileDescriptor _file;
    Clock::time_point _checked;
};

// Bytes of zeros written ahead of an in-place file's content at a time.
constexpr std::uint64_t InPlaceSpace = 64 * 1024;

bool writeZeros(int descriptor, std::uint64_t offset, std::uint64_t size) {
    static const char zeros[InPlaceSpace] = {};
    for (std::uint64_t done = 0; done < size; done += InPlaceSpace) {
        if (!writeAllAt(descriptor, zeros, std::min(InPlaceSpace, size - done), offset + done)) {
            return false;
        }
    }
    return true;
}

class OpenInPlaceFile : public InPlaceFile {
public:
    explicit OpenInPlaceFile(std::string path)
        : _path(std::move(path)), _file(::open(_path.c_str(), O_WRONLY | O_CLOEXEC)) {
        struct stat status {};
        if (!_file.valid() || ::fstat(_file.get(), &status) != 0) fail(OpenFailed, _path, errno);
        _length = static_cast<std::uint64_t>(status.st_size);
    }

    void write(std::uint64_t offset, std::string_view bytes) override {
        const std::uint64_t end = offset + bytes.size();
        const std::uint64_t ahead = (end + InPlaceSpace - 1) / InPlaceSpace * InPlaceSpace;
        const bool grows = end > _length;
        if (!writeAllAt(_file.get(), bytes.data(), bytes.size(), offset) ||
            (grows && !writeZeros(_file.get(), end, ahead - end))) {
            const int error = errno;
            // Whatever part reached the file goes, with the zeros ahead, so that the next write
            // at offset leaves nothing of this one behind it.
            if (::ftruncate(_file.get(), static_cast<off_t>(offset)) == 0) {
                ::fdatasync(_file.get());
                _length = offset;
            }
            fail(WriteFailed, _path, error);
        }
        if (grows) _length = ahead;
    }

    void sync() override {
        if (::fdatasync(_file.get()) != 0) fail(WriteFailed, _path, errno);
    }

    void truncate(std::uint64_t length) override {
        if (::ftruncate(_file.get(), static_cast<off_t>(length)) != 0 ||
            ::fdatasync(_file.get()) != 0) {
            fail(WriteFailed, _path, errno);
        }
        _length = length;
    }

    bool atPath() const override {
        struct stat open {};
        struct stat named {};
        return ::fstat(_file.get(), &open) == 0 && ::stat(_path.c_str(), &named) == 0 &&
               open.st_dev == named.st_dev && open.st_ino == named.st_ino;
    }

private:
    const std::string _path;
    FileDescriptor _file;
    std::uint64_t _length;  // of the file: the content and the zero bytes ahead of it
};

}  // namespace

void SaveFileImpl::save(const std::string& path, std::string_view bytes) const {
    if (bytes.size() > MaxDataSize) {
        fail("Could not save the file because the data size was too big. The data size is " +
                 std::to_string(bytes.size()) + ". The data cannot be bigger than " +
                 std::to_string(MaxDataSize) + " bytes.",
             path, 0);
    }
    if (path.empty()) fail("Cannot open file. No filename specified.", path, 0);

    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) fail(OpenFailed, path, EISDIR);

    // Named before the rename: once the new content is in place, nothing may fail for want of
    // memory and report a save that happened as failed.
    const std::string folder = parentFolder(path);
    TemporaryFile temporary(temporaryName(path));
    FileDescriptor file(
        ::open(temporary.name().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.valid()) fail(OpenFailed, path, errno);
    if (exists && ::fchmod(file.get(), existing.st_mode & 07777) != 0) {
        fail(OpenFailed, path, errno);
    }
    if (!writeAll(file.get(), bytes.data(), bytes.size()) || ::fsync(file.get()) != 0 ||
        !file.close()) {
        fail(WriteFailed, path, errno);
    }
    if (::rename(temporary.name().c_str(), path.c_str()) != 0) fail(WriteFailed, path, errno);
    temporary.renamed();
    if (!syncFolder(folder)) fail(WriteFailed, path, errno);
}

std::unique_ptr<AppendFile> SaveFileImpl::openAppend(const std::string& path) const {
    if (path.empty()) fail("Cannot open file. No filename specified.", path, 0);
    return std::make_unique<OpenAppendFile>(path);
}

std::unique_ptr<InPlaceFile> SaveFileImpl::openInPlace(const std::string& path) const {
    if (path.empty()) fail("Cannot open file. No filename specified.", path, 0);
    return std::make_unique<OpenInPlaceFile>(path);
}

}  // namespace io::filesystem
