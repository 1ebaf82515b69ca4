#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/mutex/Mutex.h"

namespace platform::mutex {

// A lock shared by every process (and every thread) that names the same file: an exclusive flock
// on "<lock folder>/<name>", created when missing. Each lock() takes the flock through an open
// file description of its own, so two objects, or two threads of one process, exclude each other
// as two processes do; the kernel drops the flock when its holder dies, so a killed process never
// leaves it held. The holding thread may lock again (counted) and must unlock as often; other
// threads' unlocks are refused like MutexImpl's. The lock file is never deleted: removing it
// while another process waits on it would let two holders exist.
class NamedMutexImpl : public Mutex {
public:
    NamedMutexImpl(std::string lockFolder, std::string_view name);
    NamedMutexImpl(const NamedMutexImpl&) = delete;
    NamedMutexImpl& operator=(const NamedMutexImpl&) = delete;
    ~NamedMutexImpl() override;

    void lock() override;
    void unlock() override;

    const std::string& path() const { return _path; }

private:
    // An open file descriptor, closed when the holder goes.
    class LockFile {
    public:
        explicit LockFile(int descriptor = -1) noexcept : _descriptor(descriptor) {}
        LockFile(LockFile&& other) noexcept : _descriptor(other.release()) {}
        LockFile& operator=(LockFile&& other) noexcept;
        ~LockFile();

        bool isOpen() const noexcept { return _descriptor >= 0; }
        int descriptor() const noexcept { return _descriptor; }
        int release() noexcept;
        // Closes now, reporting the close's errno (0 on success).
        int close() noexcept;

    private:
        int _descriptor;
    };

    // Opens the lock file and waits for its exclusive flock.
    LockFile openAndLock() const;

    const std::string _path;
    std::mutex
        _guard;  // guards _owner, _lockCount and _held; never held while waiting for the flock
    std::uint32_t _owner = 0;
    std::uint32_t _lockCount = 0;
    LockFile _held;
};

// The lock name of a classifier file: one of ClassifierLockStripes fixed names
// ("classifier-<n>"), chosen by a hash of the lowered key that every process computes alike. The
// same key always meets the same lock, and the lock folder never holds more than the stripes,
// whatever names clients ask for. Keys that share a stripe only wait for each other's short file
// operations; a holder never takes a second classifier lock, so sharing cannot deadlock.
inline constexpr unsigned ClassifierLockStripes = 64;
std::string classifierLockName(std::string_view loweredKey);

}  // namespace platform::mutex
