#pragma once

// The one repository of the server's tests (never linked into the product): a JobDistributionImpl
// over "<temp>/classifiers" with the real file services, a load that can be held, a save that can
// be told to fail, and either the real classifiers or fake ones whose blob is readable text and
// whose live objects use up a fixed amount of memory.

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classifier/ClassifierException.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/FileClassifierStore.h"
#include "server/JobDistributionImpl.h"
#include "server/LogTestSupport.h"
#include "testing/RecordingLog.h"

namespace norvale::quillmark::testing {

// Each live FakeClassifier uses `each` bytes of `capacity`; the first class names of destroyed
// ones are kept in the order they went (read them while no other thread runs), and the texts
// they classified.
class MemoryAccount : public platform::memory::MemoryStatus {
public:
    MemoryAccount(std::uint64_t capacity, std::uint64_t each) : _capacity(capacity), _each(each) {}
    std::uint64_t available() const override {
        const std::uint64_t used = _each * static_cast<std::uint64_t>(live.load());
        return used >= _capacity ? 0 : _capacity - used;
    }
    std::uint64_t total() const override { return _capacity; }

    std::atomic<int> live{0};
    mutable std::mutex guard;
    std::vector<std::string> gone;   // guarded by guard
    std::vector<std::string> texts;  // classified, guarded by guard
    double threshold = -1.0;         // of the last keyword request

private:
    const std::uint64_t _capacity, _each;
};

using Counts = std::map<std::string, std::uint32_t>;

// Classes with the number of texts trained into each. Blob: "fake\n" and a "name count" line per
// class; lines starting with '#' pad it.
inline std::string fakeData(const Counts& counts, std::size_t padTo = 0) {
    std::string data = "fake\n";
    for (const auto& [name, count] : counts) data += name + " " + std::to_string(count) + "\n";
    if (data.size() < padTo) data += "#" + std::string(padTo - data.size() - 1, '.');
    return data;
}

// Also records the texts it is handed (into the account) and the last keyword threshold asked.
class FakeClassifier : public classifier::Classifier {
public:
    explicit FakeClassifier(MemoryAccount* account, Counts counts = {})
        : _account(account), _counts(std::move(counts)) {
        ++_account->live;
    }
    ~FakeClassifier() override {
        std::lock_guard lock(_account->guard);
        _account->gone.push_back(_counts.empty() ? "" : _counts.begin()->first);
        --_account->live;
    }
    void swap(Classifier& other) override {
        _counts.swap(dynamic_cast<FakeClassifier&>(other)._counts);
    }
    std::unique_ptr<Classifier> clone() const override {
        return std::make_unique<FakeClassifier>(_account, _counts);
    }
    bool classExists(std::string_view name) const override {
        return _counts.count(std::string(name)) != 0;
    }
    void addClass(std::string_view name) override {
        if (!_counts.emplace(name, 0).second)
            throw classifier::ClassifierException("The class exists.");
    }
    void removeClass(std::string_view name) override { _counts.erase(std::string(name)); }
    void train(std::string_view name, std::string_view) override {
        ++_counts.at(std::string(name));
    }
    void untrain(std::string_view name, std::string_view) override {
        --_counts.at(std::string(name));
    }
    // Notes the class name as the feature of a one-count change.
    void train(std::string_view name, std::string_view, classifier::UndoLog& undo) override {
        change(name, undo, true);
    }
    void untrain(std::string_view name, std::string_view, classifier::UndoLog& undo) override {
        change(name, undo, false);
    }
    void undo(classifier::UndoLog& undo) noexcept override {
        const auto& changes = undo.changes();
        for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
            std::uint32_t& count = _counts.find(std::string(undo.feature(*change)))->second;
            change->trained ? --count : ++count;
        }
        undo.clear();
    }
    void compact() override {}
    void classify(std::string_view text, classifier::Classification& out) const override {
        if (_counts.empty()) throw classifier::ClassifierException("no classes");
        seen(text);
        for (const auto& entry : _counts) out.setProbability(entry.first, 0.5);
        out.setTextCoverage(0.25);
    }
    void classifyKeywords(std::string_view text, classifier::KeywordQueue& queue) const override {
        seen(text);
        _account->threshold = queue.threshold();
    }
    std::vector<classifier::ClassInformation> getInformation() const override {
        std::vector<classifier::ClassInformation> information;
        for (const auto& [name, count] : _counts) information.emplace_back(name, 0, count);
        return information;
    }
    std::string getTrainingData() const override { return fakeData(_counts); }
    void setTrainingData(std::string_view data) override {
        if (data.substr(0, 5) != "fake\n") throw classifier::ClassifierException("Not fake data.");
        Counts counts;
        std::istringstream lines{std::string(data.substr(5))};
        for (std::string name; lines >> name;) {
            if (name[0] != '#') lines >> counts[name];
        }
        _counts.swap(counts);
    }
    // Texts trained into a class, -1 when there is no such class.
    std::int64_t count(const std::string& name) const {
        return _counts.count(name) ? std::int64_t{_counts.at(name)} : -1;
    }

private:
    void change(std::string_view name, classifier::UndoLog& undo, bool trained) {
        undo.reserve(1, name.size());
        trained ? ++_counts.at(std::string(name)) : --_counts.at(std::string(name));
        undo.note(name, 0, 1, trained);
    }
    void seen(std::string_view text) const {
        std::lock_guard lock(_account->guard);
        _account->texts.emplace_back(text);
    }

    MemoryAccount* _account;
    Counts _counts;
};

inline const FakeClassifier& fake(const classifier::Classifier& classifier) {
    return dynamic_cast<const FakeClassifier&>(classifier);
}

struct FakeClassifierFactory : classifier::ClassifierFactory {
    explicit FakeClassifierFactory(MemoryAccount* account) : account(account) {}
    std::unique_ptr<classifier::Classifier> create() const override {
        return std::make_unique<FakeClassifier>(account);
    }
    MemoryAccount* account;
};

// Loads files through LoadFileImpl; `failure` (when set) runs first; while a path is held,
// loads of it wait until release(), and awaitLoad() returns once one waits.
class GatedLoadFile : public io::filesystem::LoadFile {
public:
    std::string load(const std::string& path, std::uint64_t byteCount) const override {
        if (failure) failure();
        std::unique_lock lock(_guard);
        _waiting += path == _held ? 1 : 0;
        _changed.notify_all();
        _changed.wait(lock, [&] { return path != _held; });
        lock.unlock();
        return _real.load(path, byteCount);
    }
    void hold(const std::string& path) { set(path, 0); }
    void awaitLoad() {
        std::unique_lock lock(_guard);
        _changed.wait(lock, [&] { return _waiting > 0; });
    }
    void release() { set("", _waiting); }

    std::function<void()> failure;

private:
    void set(const std::string& held, int waiting) {
        const std::lock_guard lock(_guard);
        _held = held;
        _waiting = waiting;
        _changed.notify_all();
    }

    io::filesystem::LoadFileImpl _real;
    mutable std::mutex _guard;
    mutable std::condition_variable _changed;
    std::string _held;         // guarded by _guard
    mutable int _waiting = 0;  // guarded by _guard
};

// A repository over "<temp>/classifiers" made of the classifiers of `factory` (fake ones when
// none is given); restart() replaces it by a fresh one over the same files, and forgets the fakes
// destroyed before.
class TempRepository {
public:
    explicit TempRepository(const classifier::ClassifierFactory* factory = nullptr,
                            std::uint64_t capacity = std::uint64_t(1) << 40, std::uint64_t each = 1)
        : memory(capacity, each), _factory(factory != nullptr ? factory : &_fakes) {
        std::filesystem::create_directories(root);
        std::filesystem::create_directories(locks);
        restart();
    }
    ~TempRepository() { repository.reset(); }

    std::unique_ptr<JobDistributionImpl> make() {
        return std::make_unique<JobDistributionImpl>(_factory, &memory, &_store, &metrics, &log);
    }
    void restart() {
        repository.reset();
        memory.gone.clear();
        repository = make();
    }
    std::string key(const std::string& name) const { return root + "/" + name + ".dat"; }
    bool exists(const std::string& lowerName) const {
        return std::filesystem::exists(key(lowerName));
    }
    std::string content(const std::string& lowerName) const {
        return io::filesystem::test::TempFolder::read(key(lowerName));
    }
    void store(const std::string& lowerName, const std::string& data) const {
        folder.write("classifiers/" + lowerName + ".dat", data);
    }
    // A write request that trains one text into `className` of `name` and commits.
    void train(const std::string& name, const std::string& className) {
        ClassifierTransactionImpl transaction(repository.get(), key(name));
        transaction.train(className, "text");
        transaction.commit();
    }
    // A read call: the class's count in the shared fake classifier, under its reader lock.
    std::int64_t read(const std::string& name, const std::string& className) {
        const auto classifier = repository->get(key(name));
        platform::mutex::ReaderAutoLock lock(classifier->reader());
        return fake(classifier->classifier()).count(className);
    }

    io::filesystem::test::TempFolder folder;
    const std::string root = folder.path("classifiers");
    const std::string locks = folder.path("locks");
    MemoryAccount memory;
    GatedLoadFile loadFile;
    RecordingSaveFile saveFile{true};
    Metrics metrics;
    testing::RecordingLog log;
    std::unique_ptr<JobDistributionImpl> repository;

private:
    FakeClassifierFactory _fakes{&memory};
    const classifier::ClassifierFactory* _factory;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    FileClassifierStore _store{&loadFile, &saveFile, &_existsFile, &_sizeFile, &_removeFile, locks};
};

// A test over a repository of fake classifiers: `Capacity` bytes of memory, `Each` a classifier.
template <std::uint64_t Capacity = (std::uint64_t(1) << 40), std::uint64_t Each = 1>
class RepositoryTest : public ::testing::Test, protected TempRepository {
protected:
    RepositoryTest() : TempRepository(nullptr, Capacity, Each) {}
};

}  // namespace norvale::quillmark::testing
