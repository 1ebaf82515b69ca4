#pragma once

// The log double of the tests: keeps every line with its level and every switch turned through
// LogSettings, in one sequence, so a test can check what was logged and in which order. Any
// thread may log; waitFor lets a test wait for a line another thread writes.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "server/Log.h"
#include "server/LogSettings.h"

namespace norvale::quillmark::testing {

class RecordingLog : public Log, public LogSettings {
public:
    using Log::assertionFailed;
    using Log::error;
    using Log::log;
    using Log::test;

    void log(const std::string& message) override { record("Log: " + message); }
    void error(const std::string& message) override { record("Error: " + message); }
    void test(const std::string& message) override { record("Test: " + message); }
    void assertionFailed(const std::string& expression, const std::string& description,
                         const std::string& file, int line) override {
        record("Failure: " + expression + " | " + description + " | " + file + ":" +
               std::to_string(line));
    }

    int level() const override { return _level; }
    void setLevel(int level) override {
        record("setLevel " + std::to_string(level));
        _level = level;
    }
    void setConsoleOutput(bool on) override { record("setConsoleOutput", on); }
    void setFileOutput(bool on) override { record("setFileOutput", on); }
    void setLogMemory(bool on) override { record("setLogMemory", on); }
    void setStartupComplete(bool on) override { record("setStartupComplete", on); }
    void setJournalPrefixes(bool on) override { record("setJournalPrefixes", on); }
    void setFileRotation(std::uint64_t maxBytes, int keepFiles) override {
        record("setFileRotation " + std::to_string(maxBytes) + " " + std::to_string(keepFiles));
    }

    // Every entry as "<Level>: <message>" or the switch turned, in order.
    std::vector<std::string> entries() const {
        std::lock_guard lock(_guard);
        return _entries;
    }
    // The messages logged at `level` ("Log", "Error", "Test", "Failure"), in order.
    std::vector<std::string> texts(const std::string& level) const {
        const std::string prefix = level + ": ";
        std::vector<std::string> found;
        for (const std::string& entry : entries()) {
            if (entry.starts_with(prefix)) found.push_back(entry.substr(prefix.size()));
        }
        return found;
    }
    // Waits at most 20 s until `entry` ("<Level>: <message>") was written.
    bool waitFor(const std::string& entry) const {
        std::unique_lock lock(_guard);
        return _added.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::find(_entries.begin(), _entries.end(), entry) != _entries.end();
        });
    }
    void clear() {
        std::lock_guard lock(_guard);
        _entries.clear();
    }

private:
    void record(const char* name, bool on) { record(std::string(name) + (on ? " on" : " off")); }
    void record(std::string entry) {
        {
            std::lock_guard lock(_guard);
            _entries.push_back(std::move(entry));
        }
        _added.notify_all();
    }

    mutable std::mutex _guard;  // guards _entries
    mutable std::condition_variable _added;
    std::vector<std::string> _entries;
    std::atomic<int> _level{0};
};

}  // namespace norvale::quillmark::testing
