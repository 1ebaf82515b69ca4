#include "platform/mutex/NamedMutexImpl.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/mutex/MutexException.h"
#include "platform/mutex/MutexImpl.h"
#include "platform/thread/CurrentThread.h"

namespace platform::mutex {

using errorresources::systemErrorText;

NamedMutexImpl::LockFile& NamedMutexImpl::LockFile::operator=(LockFile&& other) noexcept {
    if (this != &other) {
        close();
        _descriptor = other.release();
    }
    return *this;
}

NamedMutexImpl::LockFile::~LockFile() {
    QM_ASSERT_TEXT(close() == 0, "close(lockFile) == 0", "Failed closing a lock file.");
}

int NamedMutexImpl::LockFile::release() noexcept {
    return std::exchange(_descriptor, -1);
}

int NamedMutexImpl::LockFile::close() noexcept {
    if (_descriptor < 0) return 0;
    const int result = ::close(release());
    return result == 0 ? 0 : errno;
}

NamedMutexImpl::NamedMutexImpl(std::string lockFolder, std::string_view name)
    : _path(lockFolder.empty() || lockFolder.back() == '/' ? lockFolder + std::string(name)
                                                           : lockFolder + "/" + std::string(name)) {
}

NamedMutexImpl::~NamedMutexImpl() {
    QM_ASSERT(_lockCount == 0, "A named mutex was destroyed while it was locked.");
}

NamedMutexImpl::LockFile NamedMutexImpl::openAndLock() const {
    LockFile file(::open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    // The lock folder is made again when it went away with the folder it sits in (a classifier
    // root removed and made anew while the server runs); a missing parent still fails.
    if (!file.isOpen() && errno == ENOENT) {
        const std::string folder = _path.substr(0, _path.find_last_of('/') + 1);
        if (!folder.empty() && (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST)) {
            file = LockFile(::open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        }
    }
    if (!file.isOpen()) {
        throw MutexException("Error creating the mutex. Failed opening the lock file '" + _path +
                             "' using 'open'. " + errorresources::lastSystemErrorText());
    }
    int result;
    do {
        result = ::flock(file.descriptor(), LOCK_EX);
    } while (result == -1 && errno == EINTR);
    if (result == -1) {
        throw MutexException("Error locking the mutex: " + errorresources::lastSystemErrorText());
    }
    return file;
}

void NamedMutexImpl::lock() {
    const std::uint32_t caller = thread::currentThreadId();
    {
        std::lock_guard lock(_guard);
        if (_owner == caller) {
            ++_lockCount;
            return;
        }
    }
    LockFile file = openAndLock();
    std::lock_guard lock(_guard);
    _held = std::move(file);
    _owner = caller;
    _lockCount = 1;
}

void NamedMutexImpl::unlock() {
    const std::uint32_t caller = thread::currentThreadId();
    LockFile released;
    {
        std::lock_guard lock(_guard);
        if (_owner != caller) throw MutexException(MutexImpl::notOwnerMessage(_owner, caller));
        if (--_lockCount > 0) return;
        _owner = 0;
        released = std::move(_held);
    }
    const int error = released.close();
    if (error != 0) throw MutexException("Error releasing the mutex: " + systemErrorText(error));
}

std::string classifierLockName(std::string_view loweredKey) {
    // 64-bit FNV-1a: fixed, unlike std::hash, so every build and process picks the same stripe.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : loweredKey) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return "classifier-" + std::to_string(hash % ClassifierLockStripes);
}

}  // namespace platform::mutex
