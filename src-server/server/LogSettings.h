#pragma once

// The switches of the process log that start-up and the configuration turn: the level, where
// lines go, the free-memory column, and whether errors cost a crash report. Set from the main
// thread while other threads may already be logging.

namespace norvale::quillmark {

class LogSettings {
public:
    virtual ~LogSettings() = default;

    virtual int level() const = 0;
    // One of loglevel::Log .. loglevel::Test.
    virtual void setLevel(int level) = 0;
    virtual void setConsoleOutput(bool on) = 0;
    virtual void setFileOutput(bool on) = 0;
    virtual void setLogMemory(bool on) = 0;
    // From now on every Error line also writes a crash report.
    virtual void setStartupComplete(bool on) = 0;
};

}  // namespace norvale::quillmark
