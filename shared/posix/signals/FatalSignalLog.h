#pragma once

// What the fatal-signal handler needs to know about the process log to write its line the way
// the log would: whether an Error line goes to standard output and to the log file right now,
// the log file's path and the folder for crash reports. Called from inside a signal handler on
// the crashing thread, so every operation must be async-signal-safe: no locks, no allocation,
// only reads of lock-free atomics and of texts that live as long as the object.

namespace posix::signals {

class FatalSignalLog {
public:
    virtual ~FatalSignalLog() = default;

    virtual bool errorsToConsole() const noexcept = 0;
    virtual bool errorsToFile() const noexcept = 0;
    virtual const char* logFilePath() const noexcept = 0;
    // Ends with "/"; the report's file name is appended to it.
    virtual const char* dumpFolder() const noexcept = 0;
    // Put before each console line of the report ("" for none; "<2>" under journald).
    virtual const char* consoleErrorPrefix() const noexcept = 0;
};

}  // namespace posix::signals
