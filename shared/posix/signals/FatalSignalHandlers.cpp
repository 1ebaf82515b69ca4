#include "posix/signals/FatalSignalHandlers.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "debug/assertion.h"
#include "platform/thread/CurrentThread.h"
#include "posix/debug/DumpFileName.h"
#include "posix/debug/FixedText.h"
#include "posix/signals/ExceptionCode.h"

namespace posix::signals {

using posix::debug::FixedText;

namespace {

constexpr int FatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Signal handlers have no context argument; the installed object is found here.
std::atomic<const FatalSignalHandlers*> installed{nullptr};
// Set by the first faulting thread; a second one waits for it to end the process.
std::atomic<bool> reporting{false};

// Only the one reporting thread uses these, so they need not live on its (small) signal stack.
char lineBuffer[16384];
char dumpPathBuffer[4096];

void endWithDefaultAction(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    // The signal is blocked while its handler runs: it is delivered, with the default action, as
    // soon as the handler returns. A hardware fault also recurs when the instruction is retried.
    ::raise(signal);
}

void waitForTheReportingThread() {
    for (int i = 0; i < 300; ++i) {
        timespec pause{0, 100000000};
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace

FatalSignalHandlers::FatalSignalHandlers(const platform::thread::SehExceptionMapper* mapper,
                                         const FatalSignalLog* log)
    : _log(log) {
    for (const std::uint32_t code : fatalSignalExceptionCodes()) {
        Description description{code, ""};
        mapper->describe(code, description.text);
        _descriptions.push_back(std::move(description));
    }
    const FatalSignalHandlers* expected = nullptr;
    QM_ASSERT_TEXT(installed.compare_exchange_strong(expected, this), "installed == 0",
                   "Only one set of fatal-signal handlers may be installed at a time.");

    struct sigaction action {};
    action.sa_sigaction = &FatalSignalHandlers::handle;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    _previous.resize(std::size(FatalSignals));
    for (std::size_t i = 0; i < std::size(FatalSignals); ++i) {
        ::sigaction(FatalSignals[i], &action, &_previous[i]);
    }
}

FatalSignalHandlers::~FatalSignalHandlers() {
    for (std::size_t i = 0; i < std::size(FatalSignals); ++i) {
        ::sigaction(FatalSignals[i], &_previous[i], nullptr);
    }
    installed.store(nullptr);
}

void FatalSignalHandlers::handle(int signal, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;
    if (reporting.exchange(true)) {
        waitForTheReportingThread();
    } else if (const FatalSignalHandlers* self = installed.load()) {
        self->report(signal, info);
    }
    errno = savedErrno;
    endWithDefaultAction(signal);
}

const char* FatalSignalHandlers::describe(std::uint32_t code) const noexcept {
    for (const Description& description : _descriptions) {
        if (description.code == code) return description.text.c_str();
    }
    return "";
}

// Opens the report first, writes the line that names it, then fills the report: if producing the
// report fails in its turn, the line is already out.
void FatalSignalHandlers::report(int signal, const siginfo_t* info) const noexcept {
    const std::uint32_t threadId = platform::thread::currentThreadId();
    const std::time_t now = posix::debug::SignalSafeClock::now();
    const char* description = describe(exceptionCodeForSignal(signal, info->si_code));

    posix::debug::formatDumpFileName(_log->dumpFolder(), threadId, now, dumpPathBuffer,
                                     sizeof dumpPathBuffer);
    const int dump = ::open(dumpPathBuffer, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int dumpError = errno;

    char time[32];
    if (!_clock.timeText(now, time, sizeof time)) time[0] = '\0';
    FixedText line(lineBuffer, sizeof lineBuffer);
    line.append(time).append(" [Error] [ThreadId: ").appendDecimal(std::uint64_t{threadId});
    line.append("]\nA SEH exception occurred in one of the running threads.\nThread name: ");
    line.append(platform::thread::currentThreadName()).append(".\nThread id: ");
    line.appendDecimal(std::uint64_t{threadId}).append(".\n").append(description).append("\n");
    if (dump >= 0) {
        line.append("Dump is here: ").append(dumpPathBuffer).append("\n");
    } else {
        line.append("Failed to create dump (").append(dumpPathBuffer).append(") reason: ");
        line.append("Couldn't create a file to write a dump file to with name ");
        line.append(dumpPathBuffer).append(".\n\n").appendSystemErrorText(dumpError).append("\n");
    }
    line.append("\n");
    writeLine(line.text(), line.length());

    if (dump >= 0) {
        writeReport(dump, signal, info, description);
        ::close(dump);
    }
}

void FatalSignalHandlers::writeLine(const char* line, std::size_t length) const noexcept {
    int fileError = 0;
    if (_log->errorsToFile()) {
        const int file =
            ::open(_log->logFilePath(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (file < 0 || !posix::debug::writeFully(file, line, length)) fileError = errno;
        if (file >= 0) ::close(file);
    }
    if (!_log->errorsToConsole()) return;
    writeToConsole(line, length);
    if (fileError != 0) {
        char buffer[1024];
        FixedText addition(buffer, sizeof buffer);
        addition.append("Error when logging: Couldn't write to the log file ");
        addition.append(_log->logFilePath()).append(". ").appendSystemErrorText(fileError);
        addition.append("\n");
        writeToConsole(addition.text(), addition.length());
    }
}

// Each line of the text with the log's console prefix before it.
void FatalSignalHandlers::writeToConsole(const char* text, std::size_t length) const noexcept {
    const char* prefix = _log->consoleErrorPrefix();
    const std::size_t prefixLength = std::strlen(prefix);
    std::size_t start = 0;
    while (start < length) {
        std::size_t end = start;
        while (end < length && text[end] != '\n') ++end;
        if (end < length) ++end;
        if (prefixLength > 0) posix::debug::writeFully(STDOUT_FILENO, prefix, prefixLength);
        posix::debug::writeFully(STDOUT_FILENO, text + start, end - start);
        start = end;
    }
}

void FatalSignalHandlers::writeReport(int file, int signal, const siginfo_t* info,
                                      const char* description) const noexcept {
    char buffer[2048];
    FixedText headline(buffer, sizeof buffer);
    const char* name = sigabbrev_np(signal);
    headline.append("Fatal signal: SIG").append(name != nullptr ? name : "?").append(" (");
    headline.appendDecimal(std::int64_t{signal}).append("), code ");
    headline.appendDecimal(std::int64_t{info->si_code}).append(", address ");
    headline.appendHex(reinterpret_cast<std::uintptr_t>(info->si_addr)).append("\n");
    headline.append(description);
    _reportWriter.write(file, headline.text());
}

}  // namespace posix::signals
