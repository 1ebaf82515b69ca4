#pragma once

// Fakes and helpers shared by the server's tests (never linked into the product).

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "io/filesystem/RotateFile.h"
#include "io/filesystem/SaveFileImpl.h"
#include "platform/thread/CurrentThread.h"
#include "posix/debug/WriteDump.h"
#include "posix/memory/MemoryStatus.h"

namespace norvale::quillmark::testing {

// Keeps what was appended, or, with `store`, stores files for real; can be told to fail or to run
// something from inside save or sync (on the calling thread).
class RecordingSaveFile : public io::filesystem::SaveFile {
public:
    explicit RecordingSaveFile(bool store = false) : _store(store) {}
    void save(const std::string& path, std::string_view bytes, io::filesystem::SaveMode mode) const override {
        if (onSave) onSave();
        if (failWith != nullptr) throw io::filesystem::SaveFileExceptionImpl(failWith);
        if (_store) return _real.save(path, bytes, mode);
        paths.push_back(path);
        modes.push_back(mode);
        content.append(bytes);
    }
    void sync(const std::string& path) const override {
        if (onSync) onSync();
        if (failWith != nullptr) throw io::filesystem::SaveFileExceptionImpl(failWith);
        if (_store) _real.sync(path);
    }
    void truncate(const std::string& path, std::uint64_t length) const override {
        if (_store) _real.truncate(path, length);
    }

    const char* failWith = nullptr;
    std::function<void()> onSave, onSync;
    mutable std::vector<std::string> paths;
    mutable std::vector<io::filesystem::SaveMode> modes;
    mutable std::string content;

private:
    const bool _store;
    io::filesystem::SaveFileImpl _real;
};

// Tells a fixed size and records the rotations asked for; for logs whose file is a fake.
class RecordingRotateFile : public io::filesystem::RotateFile {
public:
    std::uint64_t size(const std::string&) const override { return fileSize; }
    void rotate(const std::string& path, int keep) const override {
        if (failWith != nullptr) throw io::filesystem::RotateFileException(failWith);
        rotations.push_back(path + " " + std::to_string(keep));
    }

    std::uint64_t fileSize = 0;
    const char* failWith = nullptr;
    mutable std::vector<std::string> rotations;
};

class RecordingWriteDump : public posix::debug::WriteDump {
public:
    void write(const std::string& path) const override {
        paths.push_back(path);
        if (failWith != nullptr) throw posix::debug::WriteDumpException(failWith);
    }

    const char* failWith = nullptr;
    mutable std::vector<std::string> paths;
};

class FixedMemoryStatus : public platform::memory::MemoryStatus {
public:
    explicit FixedMemoryStatus(std::uint64_t available) : _available(available) {}
    std::uint64_t available() const override { return _available; }
    std::uint64_t total() const override { return _available * 2; }

private:
    std::uint64_t _available;
};

inline const char* TimePattern =
    "(?:Sun|Mon|Tue|Wed|Thu|Fri|Sat) (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    "[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";

// The regular expression of one log line's header for the calling thread, without the separator.
inline std::string headerPattern(const std::string& level,
                                 std::uint32_t threadId = platform::thread::currentThreadId()) {
    return std::string(TimePattern) + " \\[" + level +
           "\\] \\[ThreadId: " + std::to_string(threadId) + "\\]";
}

}  // namespace norvale::quillmark::testing
