#pragma once

// The save file double of the log and repository tests (never linked into the product).

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "io/filesystem/SaveFileImpl.h"

namespace norvale::quillmark::testing {

// Keeps what was appended, or, with `store`, stores files for real; can be told to fail or to run
// something from inside save, an append, a write in place or a sync (on the calling thread).
class RecordingSaveFile : public io::filesystem::SaveFile {
public:
    explicit RecordingSaveFile(bool store = false) : _store(store) {}
    void save(const std::string& path, std::string_view bytes) const override {
        if (!_store) return record(bytes);
        hook(onSave);
        _real.save(path, bytes);
    }
    std::unique_ptr<io::filesystem::AppendFile> openAppend(const std::string& path) const override {
        if (failWith != nullptr) throw io::filesystem::SaveFileExceptionImpl(failWith);
        ++opened;
        if (_store) return _real.openAppend(path);
        return std::make_unique<Appender>(this);
    }
    std::unique_ptr<io::filesystem::InPlaceFile> openInPlace(
        const std::string& path) const override {
        if (failWith != nullptr) throw io::filesystem::SaveFileExceptionImpl(failWith);
        return std::make_unique<InPlace>(this, _store ? _real.openInPlace(path) : nullptr);
    }

    const char* failWith = nullptr;
    std::function<void()> onSave, onSync;
    mutable std::string content;
    mutable int opened = 0;          // files opened for appending
    mutable bool recreated = false;  // the next append tells of a file created again

private:
    // Runs the hook, then fails when told to.
    void hook(const std::function<void()>& run) const {
        if (run) run();
        if (failWith != nullptr) throw io::filesystem::SaveFileExceptionImpl(failWith);
    }
    void record(std::string_view bytes) const {
        hook(onSave);
        content.append(bytes);
    }

    class Appender : public io::filesystem::AppendFile {
    public:
        explicit Appender(const RecordingSaveFile* owner) : _owner(owner) {}
        bool append(std::string_view bytes) override {
            _owner->record(bytes);
            return std::exchange(_owner->recreated, false);
        }

    private:
        const RecordingSaveFile* _owner;
    };

    class InPlace : public io::filesystem::InPlaceFile {
    public:
        InPlace(const RecordingSaveFile* owner, std::unique_ptr<InPlaceFile> real)
            : _owner(owner), _real(std::move(real)) {}
        void write(std::uint64_t offset, std::string_view bytes) override {
            if (!_real) return _owner->record(bytes);
            _owner->hook(_owner->onSave);
            _real->write(offset, bytes);
        }
        void sync() override {
            _owner->hook(_owner->onSync);
            if (_real) _real->sync();
        }
        void truncate(std::uint64_t length) override {
            if (_real) _real->truncate(length);
        }
        bool atPath() const override { return !_real || _real->atPath(); }

    private:
        const RecordingSaveFile* _owner;
        const std::unique_ptr<InPlaceFile> _real;
    };

    const bool _store;
    io::filesystem::SaveFileImpl _real;
};

}  // namespace norvale::quillmark::testing
