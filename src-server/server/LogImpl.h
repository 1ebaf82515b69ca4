#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "io/filesystem/RotateFile.h"
#include "io/filesystem/SaveFile.h"
#include "platform/mutex/MutexImpl.h"
#include "posix/debug/WriteDump.h"
#include "posix/file/CreateFolder.h"
#include "posix/memory/MemoryStatus.h"
#include "posix/signals/FatalSignalLog.h"
#include "posix/signals/ReopenRequest.h"
#include "server/CrashReportBudget.h"
#include "server/Log.h"
#include "server/LogSettings.h"
#include "server/Metrics.h"

namespace norvale::quillmark {

// Writes each message as one line ("<time> [<Level>] [ThreadId: <id>] [Free: <n>MB]", then the
// message after a space, or after a newline when it has one of its own) to the log file and to
// standard output. Errors after start-up and every failed assertion also leave a crash report in
// the dump folder, within the bounds of CrashReportBudget (the line says when a report was skipped
// or old ones were removed). Failures of its own (file, report, memory) never reach the caller.
//
// The file is bounded: before a line would take it past the rotation size, it is moved aside
// (RotateFile) and a new one begins; see LogSettings::setFileRotation. The size is counted from
// the lines written and asked of the file system only at the first line and after a reopen
// request (SIGHUP, for example after logrotate moved the file away), so the count stays right
// when somebody else moved or truncated the file.
//
// _lock serialises whole lines, so lines never interleave and a rotation never falls inside one;
// it is taken only inside these operations. The switches are atomics because the fatal-signal
// handler reads them without the lock (see FatalSignalLog), and a reopen request comes from a
// signal handler.
class LogImpl : public Log,
                public LogSettings,
                public posix::signals::FatalSignalLog,
                public posix::signals::ReopenRequest {
public:
    LogImpl(const io::filesystem::SaveFile* saveFile, const io::filesystem::RotateFile* rotateFile,
            const posix::file::CreateFolder* createFolder, const posix::debug::WriteDump* writeDump,
            const platform::memory::MemoryStatus* memoryStatus, Metrics* metrics);
    // For tests and tools that keep their log elsewhere; dumpFolder ends with "/".
    LogImpl(const io::filesystem::SaveFile* saveFile, const io::filesystem::RotateFile* rotateFile,
            const posix::file::CreateFolder* createFolder, const posix::debug::WriteDump* writeDump,
            const platform::memory::MemoryStatus* memoryStatus, Metrics* metrics,
            std::string logFilePath, std::string dumpFolder);

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
    void setJournalPrefixes(bool on) override { _journalPrefixes.store(on); }
    void setFileRotation(std::uint64_t maxBytes, int keepFiles) override;

    // Async-signal-safe: only marks the file's size as unknown for the next line.
    void requestReopen() noexcept override { _reopenRequested.store(true); }

    bool errorsToConsole() const noexcept override;
    bool errorsToFile() const noexcept override;
    const char* logFilePath() const noexcept override { return _logFilePath.c_str(); }
    const char* dumpFolder() const noexcept override { return _dumpFolder.c_str(); }
    const char* consoleErrorPrefix() const noexcept override;

private:
    bool accepts(int level) const;
    template <class Produce>
    void produce(Produce produceLine);
    std::string formatLine(int level, const std::string& message) const;
    void writeLine(int level, const std::string& line);
    std::string appendToFile(const std::string& line);
    std::unique_ptr<io::filesystem::AppendFile> openFile();
    void keepFileBounded(std::size_t lineBytes);
    std::string dumpNote(const std::string& message);
    std::string crashDumpNote();
    std::string makeRoomForReport();
    std::string newDumpPath() const;

    const std::string _logFilePath;
    const std::string _dumpFolder;
    const io::filesystem::SaveFile* _saveFile;
    const io::filesystem::RotateFile* _rotateFile;
    const posix::file::CreateFolder* _createFolder;
    const posix::debug::WriteDump* _writeDump;
    const platform::memory::MemoryStatus* _memoryStatus;
    Metrics* _metrics;                 // counts the lines and the crash reports
    platform::mutex::MutexImpl _lock;  // guards _inLog and the order of lines
    std::atomic<int> _level{0};
    std::atomic<bool> _consoleOutput{true};
    std::atomic<bool> _fileOutput{false};
    std::atomic<bool> _logMemory{false};
    bool _inLog = false;  // a line is being produced on the thread that holds _lock
    std::atomic<bool> _startupComplete{false};
    std::atomic<bool> _journalPrefixes{false};
    std::atomic<bool> _reopenRequested{false};
    std::atomic<std::uint64_t> _maxFileBytes{DefaultMaxFileBytes};
    std::atomic<int> _keepFiles{DefaultKeepFiles};
    std::uint64_t _fileBytes = 0;  // guarded by _lock: the file's size as far as known
    bool _fileBytesKnown = false;  // guarded by _lock
    // Guarded by _lock: the log file, open from its first line until it is rotated, a reopen is
    // asked for or a write fails.
    std::unique_ptr<io::filesystem::AppendFile> _file;
    CrashReportBudget _reportBudget;  // guarded by _lock
};

}  // namespace norvale::quillmark
