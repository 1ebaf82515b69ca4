#pragma once

// The switches of the process log that start-up and the configuration turn: the level, where
// lines go, the free-memory column, whether errors cost a crash report, and the bounds of the log
// file. Set from the main thread while other threads may already be logging.

#include <cstdint>

namespace norvale::quillmark {

class LogSettings {
public:
    // The log file's bounds until the configuration says otherwise: 64 MiB, eight copies.
    static constexpr std::uint64_t DefaultMaxFileBytes = 64 * 1024 * 1024;
    static constexpr int DefaultKeepFiles = 8;

    virtual ~LogSettings() = default;

    virtual int level() const = 0;
    // One of loglevel::Log .. loglevel::Test.
    virtual void setLevel(int level) = 0;
    virtual void setConsoleOutput(bool on) = 0;
    virtual void setFileOutput(bool on) = 0;
    virtual void setLogMemory(bool on) = 0;
    // From now on every Error line also writes a crash report.
    virtual void setStartupComplete(bool on) = 0;
    // Each console line starts with its syslog priority ("<6>" for Log and Test lines, "<3>" for
    // Error, "<2>" for Failure), which journald takes as the line's priority under systemd.
    virtual void setJournalPrefixes(bool on) = 0;
    // Before a line would take the log file past `maxBytes`, the file is moved aside to
    // "<file>.1" (older copies shift up to "<file>.<keepFiles>", the oldest is dropped). 0 bytes
    // means no limit.
    virtual void setFileRotation(std::uint64_t maxBytes, int keepFiles) = 0;
};

}  // namespace norvale::quillmark
