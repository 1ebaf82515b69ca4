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

// The syslog priority journald reads from the start of a console line.
const char* journalPriority(int level) {
    switch (level) {
        case loglevel::Error:
            return "<3>";
        case loglevel::Failure:
            return "<2>";
        default:
            return "<6>";
    }
}

// `text` with `prefix` before each of its lines.
std::string withPrefix(const std::string& text, const char* prefix) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
        out += prefix;
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

}  // namespace

LogImpl::LogImpl(const io::filesystem::SaveFile* saveFile,
                 const io::filesystem::RotateFile* rotateFile,
                 const posix::file::CreateFolder* createFolder,
                 const posix::debug::WriteDump* writeDump,
                 const platform::memory::MemoryStatus* memoryStatus, Metrics* metrics)
    : LogImpl(saveFile, rotateFile, createFolder, writeDump, memoryStatus, metrics,
              product::LogFile, product::LogFolder) {}

LogImpl::LogImpl(const io::filesystem::SaveFile* saveFile,
                 const io::filesystem::RotateFile* rotateFile,
                 const posix::file::CreateFolder* createFolder,
                 const posix::debug::WriteDump* writeDump,
                 const platform::memory::MemoryStatus* memoryStatus, Metrics* metrics,
                 std::string logFilePath, std::string dumpFolder)
    : _logFilePath(std::move(logFilePath)),
      _dumpFolder(std::move(dumpFolder)),
      _saveFile(saveFile),
      _rotateFile(rotateFile),
      _createFolder(createFolder),
      _writeDump(writeDump),
      _memoryStatus(memoryStatus),
      _metrics(metrics) {}

void LogImpl::setLevel(int level) {
    logLevelName(level);  // refuses a level that does not exist
    _level.store(level);
}

void LogImpl::setFileRotation(std::uint64_t maxBytes, int keepFiles) {
    QM_ASSERT_TEXT(keepFiles >= 0, "keepFiles >= 0", "A negative number of log copies to keep.");
    _maxFileBytes.store(maxBytes);
    _keepFiles.store(keepFiles);
}

void LogImpl::log(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    if (!accepts(loglevel::Log)) return;
    produce([&] { writeLine(loglevel::Log, formatLine(loglevel::Log, message)); });
}

void LogImpl::error(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    if (!accepts(loglevel::Error)) return;
    produce([&] {
        std::string text = message + "\n";
        if (_startupComplete.load()) text += dumpNote(message);
        writeLine(loglevel::Error, formatLine(loglevel::Error, text));
    });
}

void LogImpl::test(const std::string& message) {
    AutoLock<MutexImpl> lock(&_lock);
    produce([&] { writeLine(loglevel::Test, formatLine(loglevel::Test, message)); });
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
        writeLine(loglevel::Failure, formatLine(loglevel::Failure, text));
    });
}

bool LogImpl::errorsToConsole() const noexcept {
    return _consoleOutput.load() && _level.load() <= loglevel::Error;
}

bool LogImpl::errorsToFile() const noexcept {
    return _fileOutput.load() && _level.load() <= loglevel::Error;
}

const char* LogImpl::consoleErrorPrefix() const noexcept {
    return _journalPrefixes.load() ? journalPriority(loglevel::Failure) : "";
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

void LogImpl::writeLine(int level, const std::string& line) {
    _metrics->logged(level);
    try {
        const std::string note = _fileOutput.load() ? appendToFile(line) : std::string();
        if (!_consoleOutput.load()) return;
        if (_journalPrefixes.load()) {
            printToConsole(withPrefix(line, journalPriority(level)) +
                           withPrefix(note, journalPriority(loglevel::Error)));
        } else {
            printToConsole(line + note);
        }
    } catch (const std::bad_alloc&) {
        if (_consoleOutput.load()) printToConsole(line);
    }
}

// Returns what the console copy of the line adds about a failed rotation or file write ("" on
// success). A line whose rotation failed still goes to the file.
std::string LogImpl::appendToFile(const std::string& line) {
    std::string note;
    try {
        keepFileBounded(line.size());
    } catch (const exceptions::Exception& e) {
        note = std::string("Error when rotating the log file: ") + e.what() + "\n";
    } catch (const std::exception& e) {
        note = std::string("Error when rotating the log file: ") + e.what() + "\n";
    }
    try {
        if (!_file) _file = openFile();
        if (_file->append(line)) {
            _fileBytesKnown = false;  // removed and begun again: what it holds is asked anew
        } else {
            _fileBytes += line.size();
        }
        return note;
    } catch (const exceptions::Exception& e) {
        _file.reset();  // the next line opens the file again
        return note + "Error when logging: " + e.what() + "\n";
    } catch (const std::exception& e) {
        _file.reset();
        return note + "Error when logging: " + e.what() + "\n";
    } catch (abi::__forced_unwind&) {
        throw;  // a cancelled thread unwinding out of the write
    } catch (...) {
        return note + "A ... exception occured when trying to log a message.\n";
    }
}

// A log folder removed while the server runs (with the file in it) is made again with the file.
std::unique_ptr<io::filesystem::AppendFile> LogImpl::openFile() {
    const std::size_t slash = _logFilePath.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        _createFolder->createIfPossible(_logFilePath.substr(0, slash));
    }
    return _saveFile->openAppend(_logFilePath);
}

// Moves the file aside when `lineBytes` more would take it past the rotation size; a file that
// is still empty takes any line whole.
void LogImpl::keepFileBounded(std::size_t lineBytes) {
    if (_reopenRequested.exchange(false)) {
        _file.reset();
        _fileBytesKnown = false;
    }
    const std::uint64_t maxBytes = _maxFileBytes.load();
    if (maxBytes == 0) return;
    if (!_fileBytesKnown) {
        _fileBytes = _rotateFile->size(_logFilePath);
        _fileBytesKnown = true;
    }
    if (_fileBytes == 0 || _fileBytes + lineBytes <= maxBytes) return;
    _fileBytesKnown = false;  // asked again should the rotation stop half-way
    _file.reset();
    _rotateFile->rotate(_logFilePath, _keepFiles.load());
    _fileBytes = 0;
    _fileBytesKnown = true;
}

std::string LogImpl::newDumpPath() const {
    return posix::debug::dumpFileName(_dumpFolder, platform::thread::currentThreadId(),
                                      std::time(nullptr));
}

// Errors that clients can cause (a connection dropped, say) must not fill the disk with reports:
// see CrashReportBudget.
std::string LogImpl::dumpNote(const std::string& message) {
    if (!_reportBudget.admitError(message, std::time(nullptr))) {
        return "No dump: one was written for this kind of error less than " +
               std::to_string(CrashReportBudget::KindInterval) + " seconds ago.\n";
    }
    std::string note = makeRoomForReport();
    const std::string path = newDumpPath();
    try {
        _writeDump->write(path);
        _metrics->crashReportWritten();
        return note + "Dump is here: " + path + "\n";
    } catch (const posix::debug::WriteDumpException& e) {
        return note + "Failed to create dump (" + path + ") reason: " + e.what() + "\n";
    }
}

std::string LogImpl::crashDumpNote() {
    std::string note = makeRoomForReport();
    const std::string path = newDumpPath();
    try {
        _writeDump->write(path);
        _metrics->crashReportWritten();
        return note + "Crash dump here: " + path;
    } catch (const posix::debug::WriteDumpException& e) {
        return note + "Failed to create crash dump (" + path + ") reason: " + e.what();
    } catch (const std::bad_alloc&) {
        return note + "Failed to create crash dump (" + path + ") reason: Dmp bad_alloc";
    }
}

// One line per old report removed to keep the folder within its bounds.
std::string LogImpl::makeRoomForReport() {
    std::string note;
    for (const std::string& removed : CrashReportBudget::makeRoom(_dumpFolder)) {
        note += "Removed the old crash report " + removed + ".\n";
    }
    return note;
}

}  // namespace norvale::quillmark
