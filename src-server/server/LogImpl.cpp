#include "server/LogImpl.h"

#include <cxxabi.h>

#include <cstdio>
#include <ctime>
#include <new>

#include "debug/TimeText.h"
#include "platform/mutex/AutoLock.h"
#include "platform/thread/CurrentThread.h"
#include "posix/debug/DumpFileName.h"
#include "server/LogLevel.h"
#include "server/Product.h"

namespace norvale::quillmark {

using platform::mutex::AutoLock;
using platform::mutex::MutexImpl;

namespace {

constexpr std::size_t MaxTimeTextLength = 256;

// Marks a line as being produced and clears the mark on every way out.
class InLogScope {
public:
    explicit InLogScope(bool* inLog) : _inLog(inLog) { *_inLog = true; }
    ~InLogScope() { *_inLog = false; }
    InLogScope(const InLogScope&) = delete;
    InLogScope& operator=(const InLogScope&) = delete;

private:
    bool* _inLog;
};

void printToConsole(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

LogImpl::LogImpl(const io::filesystem::SaveFile* saveFile, const posix::debug::WriteDump* writeDump,
                 const platform::memory::MemoryStatus* memoryStatus)
    : LogImpl(saveFile, writeDump, memoryStatus, product::LogFile, product::LogFolder) {}

LogImpl::LogImpl(const io::filesystem::SaveFile* saveFile, const posix::debug::WriteDump* writeDump,
                 const platform::memory::MemoryStatus* memoryStatus, std::string logFilePath,
                 std::string dumpFolder)
    : _logFilePath(std::move(logFilePath)),
      _dumpFolder(std::move(dumpFolder)),
      _saveFile(saveFile),
      _writeDump(writeDump),
      _memoryStatus(memoryStatus) {}

void LogImpl::setLevel(int level) {
    logLevelName(level);  // refuses a level that does not exist
    _level.store(level);
}

void LogImpl::log(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    if (!accepts(loglevel::Log)) return;
    produce([&] { writeLine(formatLine(loglevel::Log, message)); });
}

void LogImpl::error(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    if (!accepts(loglevel::Error)) return;
    produce([&] {
        std::string text = message + "\n";
        if (_startupComplete.load()) text += dumpNote();
        writeLine(formatLine(loglevel::Error, text));
    });
}

void LogImpl::test(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    produce([&] { writeLine(formatLine(loglevel::Test, message)); });
}

void LogImpl::assertionFailed(const std::string& expression, const std::string& description,
                              const std::string& file, int line) {
    AutoLock<MutexImpl> lock(&_lock);
    if (!accepts(loglevel::Failure)) return;
    produce([&] {
        const std::string dump = crashDumpNote();
        const std::string text =
            "An assertion occurred in the Quillmark server.\n"
            "This could be serious and you should contact the developer with this "
            "information.\nExpression: " +
            expression + "\nDescription: " + description + "\nFile: " + file +
            "\nLine: " + std::to_string(line) +
            "\n\n"
            "Please send this information to Norvale support, support@norvale.com.\n"
            "Thank you for helping us improve our software.\n\n" +
            dump + "\n";
        writeLine(formatLine(loglevel::Failure, text));
    });
}

bool LogImpl::errorsToConsole() const noexcept {
    return _consoleOutput.load() && _level.load() <= loglevel::Error;
}

bool LogImpl::errorsToFile() const noexcept {
    return _fileOutput.load() && _level.load() <= loglevel::Error;
}

// The level test comes first: a filtered message costs the lock and nothing else.
bool LogImpl::accepts(int level) const {
    return _level.load() <= level && (_consoleOutput.load() || _fileOutput.load()) && !_inLog;
}

template <class Produce>
void LogImpl::produce(Produce produceLine) {
    InLogScope inLog(&_inLog);
    try {
        produceLine();
    } catch (const exceptions::Exception&) {
        // A log that cannot log has nobody to tell; the caller's work goes on.
    } catch (const std::bad_alloc&) {
    }
}

std::string LogImpl::formatLine(int level, const std::string& message) const {
    const std::string time = debug::timeText(std::time(nullptr));
    QM_ASSERT_TEXT(time.size() < MaxTimeTextLength, "timeLength < 256",
                   "The local time text does not fit its buffer.");
    std::string line = time + " [" + logLevelName(level) +
                       "] [ThreadId: " + std::to_string(platform::thread::currentThreadId()) + "]";
    if (_logMemory.load()) {
        line += " [Free: " + std::to_string(_memoryStatus->available() / 1000000) + "MB]";
    }
    line += message.find('\n') != std::string::npos ? "\n" : " ";
    line += message;
    line += "\n";
    return line;
}

void LogImpl::writeLine(const std::string& line) const {
    try {
        std::string console = line;
        if (_fileOutput.load()) console += appendToFile(line);
        if (_consoleOutput.load()) printToConsole(console);
    } catch (const std::bad_alloc&) {
        if (_consoleOutput.load()) printToConsole(line);
    }
}

// Returns what the console copy of the line adds about a failed file write ("" on success).
std::string LogImpl::appendToFile(const std::string& line) const {
    try {
        _saveFile->save(_logFilePath, line, io::filesystem::SaveMode::Append);
        return "";
    } catch (const exceptions::Exception& e) {
        return std::string("Error when logging: ") + e.what() + "\n";
    } catch (const std::exception& e) {
        return std::string("Error when logging: ") + e.what() + "\n";
    } catch (abi::__forced_unwind&) {
        throw;  // a cancelled thread unwinding out of the write
    } catch (...) {
        return "A ... exception occured when trying to log a message.\n";
    }
}

std::string LogImpl::newDumpPath() const {
    return posix::debug::dumpFileName(_dumpFolder, platform::thread::currentThreadId(),
                                      std::time(nullptr));
}

std::string LogImpl::dumpNote() {
    const std::string path = newDumpPath();
    try {
        _writeDump->write(path);
        return "Dump is here: " + path + "\n";
    } catch (const posix::debug::WriteDumpException& e) {
        return "Failed to create dump (" + path + ") reason: " + e.what() + "\n";
    }
}

std::string LogImpl::crashDumpNote() {
    const std::string path = newDumpPath();
    try {
        _writeDump->write(path);
        return "Crash dump here: " + path;
    } catch (const posix::debug::WriteDumpException& e) {
        return "Failed to create crash dump (" + path + ") reason: " + e.what();
    } catch (const std::bad_alloc&) {
        return "Failed to create crash dump (" + path + ") reason: Dmp bad_alloc";
    }
}

}  // namespace norvale::quillmark
