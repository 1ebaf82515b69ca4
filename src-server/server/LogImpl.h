#pragma once

#include <atomic>
#include <string>

#include "io/filesystem/SaveFile.h"
#include "platform/mutex/MutexImpl.h"
#include "posix/debug/WriteDump.h"
#include "posix/memory/MemoryStatus.h"
#include "posix/signals/FatalSignalLog.h"
#include "server/Log.h"
#include "server/LogSettings.h"

namespace norvale::quillmark {

// Writes each message as one line ("<time> [<Level>] [ThreadId: <id>] [Free: <n>MB]", then the
// message after a space, or after a newline when it has one of its own) to the log file and to
// standard output. Errors after start-up and every failed assertion also leave a crash report in
// the dump folder. Failures of its own (file, report, memory) never reach the caller.
//
// _lock serialises whole lines, so lines never interleave; it is taken only inside these
// operations. The switches are atomics because the fatal-signal handler reads them without the
// lock (see FatalSignalLog).
class LogImpl : public Log, public LogSettings, public posix::signals::FatalSignalLog {
public:
    LogImpl(const io::filesystem::SaveFile* saveFile, const posix::debug::WriteDump* writeDump,
            const platform::memory::MemoryStatus* memoryStatus);
    // For tests and tools that keep their log elsewhere; dumpFolder ends with "/".
    LogImpl(const io::filesystem::SaveFile* saveFile, const posix::debug::WriteDump* writeDump,
            const platform::memory::MemoryStatus* memoryStatus, std::string logFilePath,
            std::string dumpFolder);

    using Log::assertionFailed;
    using Log::error;
    using Log::log;
    using Log::test;

    void log(const std::string& message) override;
    void error(const std::string& message) override;
    void test(const std::string& message) override;
    void assertionFailed(const std::string& expression, const std::string& description,
                         const std::string& file, int line) override;

    int level() const override { return _level.load(); }
    void setLevel(int level) override;
    void setConsoleOutput(bool on) override { _consoleOutput.store(on); }
    void setFileOutput(bool on) override { _fileOutput.store(on); }
    void setLogMemory(bool on) override { _logMemory.store(on); }
    void setStartupComplete(bool on) override { _startupComplete.store(on); }

    bool errorsToConsole() const noexcept override;
    bool errorsToFile() const noexcept override;
    const char* logFilePath() const noexcept override { return _logFilePath.c_str(); }
    const char* dumpFolder() const noexcept override { return _dumpFolder.c_str(); }

private:
    bool accepts(int level) const;
    template <class Produce>
    void produce(Produce produceLine);
    std::string formatLine(int level, const std::string& message) const;
    void writeLine(const std::string& line) const;
    std::string appendToFile(const std::string& line) const;
    std::string dumpNote();
    std::string crashDumpNote();
    std::string newDumpPath() const;

    const std::string _logFilePath;
    const std::string _dumpFolder;
    const io::filesystem::SaveFile* _saveFile;
    const posix::debug::WriteDump* _writeDump;
    const platform::memory::MemoryStatus* _memoryStatus;
    platform::mutex::MutexImpl _lock;  // guards _inLog and the order of lines
    std::atomic<int> _level{0};
    std::atomic<bool> _consoleOutput{true};
    std::atomic<bool> _fileOutput{false};
    std::atomic<bool> _logMemory{false};
    bool _inLog = false;  // a line is being produced on the thread that holds _lock
    std::atomic<bool> _startupComplete{false};
};

}  // namespace norvale::quillmark
