#pragma once

// Test doubles for the repository's tests (never linked into the product): a small classifier
// whose data blob is readable text, a memory account that turns live classifiers into used
// memory, file services that can be told to fail, and a log that records what it is told.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/Classifier.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierFactory.h"
#include "io/filesystem/SaveFileImpl.h"
#include "posix/memory/MemoryStatus.h"
#include "server/Log.h"

namespace norvale::quillmark::testing {

// Every live FakeClassifier costs bytesPerClassifier of a fixed capacity; the labels of
// destroyed classifiers are kept in the order they went.
class MemoryAccount : public platform::memory::MemoryStatus {
public:
    MemoryAccount(std::uint64_t capacity, std::uint64_t bytesPerClassifier)
        : _capacity(capacity), _bytesPerClassifier(bytesPerClassifier) {}

    std::uint64_t available() const override {
        const std::uint64_t used = static_cast<std::uint64_t>(_live.load()) * _bytesPerClassifier;
        return used >= _capacity ? 0 : _capacity - used;
    }
    std::uint64_t total() const override { return _capacity; }

    void born() { ++_live; }
    void died(const std::string& label) {
        --_live;
        std::lock_guard lock(_guard);
        _destroyed.push_back(label);
    }
    int live() const { return _live.load(); }
    std::vector<std::string> destroyed() const {
        std::lock_guard lock(_guard);
        return _destroyed;
    }

private:
    const std::uint64_t _capacity;
    const std::uint64_t _bytesPerClassifier;
    std::atomic<int> _live{0};
    mutable std::mutex _guard;
    std::vector<std::string> _destroyed;
};

// Classes with the number of texts trained into each. Its blob is "fake\n" followed by one
// "name count" line per class; lines starting with '#' are padding.
class FakeClassifier : public classifier::Classifier {
public:
    explicit FakeClassifier(MemoryAccount* account) : _account(account) {
        if (_account != nullptr) _account->born();
    }
    FakeClassifier(const FakeClassifier& other) : Classifier(), _account(other._account), _counts(other._counts) {
        if (_account != nullptr) _account->born();
    }
    ~FakeClassifier() override {
        if (_account != nullptr) _account->died(_counts.empty() ? "" : _counts.begin()->first);
    }

    void swap(Classifier& other) override { _counts.swap(dynamic_cast<FakeClassifier&>(other)._counts); }
    std::unique_ptr<Classifier> clone() const override { return std::make_unique<FakeClassifier>(*this); }
    bool classExists(std::string_view className) const override {
        return _counts.count(std::string(className)) != 0;
    }
    void addClass(std::string_view className) override {
        if (className.empty() || !_counts.emplace(std::string(className), 0).second) {
            throw classifier::ClassifierException("Cannot add the class.");
        }
    }
    void removeClass(std::string_view className) override {
        if (_counts.erase(std::string(className)) == 0) {
            throw classifier::ClassifierException("Cannot remove the class.");
        }
    }
    void train(std::string_view className, std::string_view) override { ++existing(className); }
    void untrain(std::string_view className, std::string_view) override {
        auto& count = existing(className);
        if (count > 0) --count;
    }
    void compact() override {}
    void classify(std::string_view, classifier::Classification& out) const override {
        out.setTextCoverage(0);
        for (const auto& [name, count] : _counts) out.setProbability(name, count);
    }
    void classifyKeywords(std::string_view, classifier::KeywordQueue&) const override {}
    std::vector<classifier::ClassInformation> getInformation() const override {
        std::vector<classifier::ClassInformation> information;
        for (const auto& [name, count] : _counts) information.emplace_back(name, 0, count);
        return information;
    }
    std::string getTrainingData() const override {
        std::string data = "fake\n";
        for (const auto& [name, count] : _counts) data += name + " " + std::to_string(count) + "\n";
        return data;
    }
    void setTrainingData(std::string_view data) override {
        if (data.substr(0, 5) != "fake\n") throw classifier::ClassifierException("Not a fake classifier.");
        std::map<std::string, std::uint32_t> counts;
        data.remove_prefix(5);
        while (!data.empty()) {
            const std::size_t end = data.find('\n');
            const std::string_view line = data.substr(0, end);
            data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
            if (line.empty() || line[0] == '#') continue;
            const std::size_t space = line.rfind(' ');
            if (space == std::string_view::npos) throw classifier::ClassifierException("Bad line.");
            counts[std::string(line.substr(0, space))] =
                static_cast<std::uint32_t>(std::stoul(std::string(line.substr(space + 1))));
        }
        _counts.swap(counts);
    }

    // The number of texts trained into a class, -1 when there is no such class.
    std::int64_t count(const std::string& className) const {
        const auto found = _counts.find(className);
        return found == _counts.end() ? -1 : static_cast<std::int64_t>(found->second);
    }

private:
    std::uint32_t& existing(std::string_view className) {
        const auto found = _counts.find(std::string(className));
        if (found == _counts.end()) throw classifier::ClassifierException("No such class.");
        return found->second;
    }

    MemoryAccount* _account;
    std::map<std::string, std::uint32_t> _counts;
};

// The blob of a fake classifier with one class per entry.
inline std::string fakeData(const std::map<std::string, std::uint32_t>& counts,
                            std::size_t padding = 0) {
    std::string data = "fake\n";
    for (const auto& [name, count] : counts) data += name + " " + std::to_string(count) + "\n";
    if (padding > 0) data += "#" + std::string(padding - 1, '.');
    return data;
}

inline const FakeClassifier& fake(const classifier::Classifier& classifier) {
    return dynamic_cast<const FakeClassifier&>(classifier);
}

class FakeClassifierFactory : public classifier::ClassifierFactory {
public:
    explicit FakeClassifierFactory(MemoryAccount* account = nullptr) : _account(account) {}
    std::unique_ptr<classifier::Classifier> create() const override {
        return std::make_unique<FakeClassifier>(_account);
    }

private:
    MemoryAccount* _account;
};

// The real atomic save, unless told to fail; counts the saves that reached the disk.
class FailingSaveFile : public io::filesystem::SaveFile {
public:
    void save(const std::string& path, std::string_view bytes,
              io::filesystem::SaveMode mode) const override {
        if (fail.load()) {
            throw io::filesystem::SaveFileExceptionImpl("Could not write the file '" + path + "'.");
        }
        _real.save(path, bytes, mode);
        ++saved;
    }

    std::atomic<bool> fail{false};
    mutable std::atomic<int> saved{0};

private:
    io::filesystem::SaveFileImpl _real;
};

struct LogEntry {
    std::string level;
    std::string message;
    bool operator==(const LogEntry&) const = default;
};

class RecordingLog : public Log {
public:
    using Log::assertionFailed;
    using Log::error;
    using Log::log;
    using Log::test;

    void log(const std::string& message) override { add("Log", message); }
    void error(const std::string& message) override { add("Error", message); }
    void test(const std::string& message) override { add("Test", message); }
    void assertionFailed(const std::string& expression, const std::string& description,
                         const std::string& file, int line) override {
        add("Failure", expression + "|" + description + "|" + file + "|" + std::to_string(line));
    }

    std::vector<LogEntry> entries() const {
        std::lock_guard lock(_guard);
        return _entries;
    }

private:
    void add(const char* level, const std::string& message) {
        std::lock_guard lock(_guard);
        _entries.push_back({level, message});
    }

    mutable std::mutex _guard;
    std::vector<LogEntry> _entries;
};

}  // namespace norvale::quillmark::testing
