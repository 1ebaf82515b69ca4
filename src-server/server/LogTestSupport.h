#pragma once

// The save file double of the log and repository tests (never linked into the product).

#include <functional>
#include <string>
#include <vector>

#include "io/filesystem/SaveFileImpl.h"

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

}  // namespace norvale::quillmark::testing
