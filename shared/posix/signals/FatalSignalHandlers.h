#pragma once

// Reports the fatal faults of any thread (SIGSEGV, SIGBUS, SIGFPE, SIGILL) before the process
// ends: one Error line in the log's form naming the thread and the fault with the fault-code
// table's text, and a crash report in the log's dump folder; then the signal's default action
// ends the process (and leaves a core file where the system keeps them).
//
// The handler runs on the faulting thread, on its alternate stack (every ThreadImpl body has one,
// and so has the thread that constructs this object), and uses only open, write, close and fixed
// buffers: the descriptions are formatted at construction, the time comes from a clock that needs
// no time-zone lock. It does not take the log's mutex (the faulting thread may hold it), so its
// line can meet a line that another thread is writing at that moment; it is written with one
// write(2) in append mode. The free-memory column is left out of that line.
//
// One object may be installed at a time (process-wide, as signal dispositions are); construct
// and destroy it on the main thread, at start-up and at the end of the process.

#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/thread/AlternateSignalStack.h"
#include "platform/thread/SehExceptionMapper.h"
#include "posix/debug/CrashReportWriter.h"
#include "posix/debug/SignalSafeClock.h"
#include "posix/signals/FatalSignalLog.h"

namespace posix::signals {

class FatalSignalHandlers {
public:
    FatalSignalHandlers(const platform::thread::SehExceptionMapper* mapper,
                        const FatalSignalLog* log);
    ~FatalSignalHandlers();
    FatalSignalHandlers(const FatalSignalHandlers&) = delete;
    FatalSignalHandlers& operator=(const FatalSignalHandlers&) = delete;

private:
    struct Description {
        std::uint32_t code;
        std::string text;
    };

    static void handle(int signal, siginfo_t* info, void* context);
    void report(int signal, const siginfo_t* info) const noexcept;
    const char* describe(std::uint32_t code) const noexcept;
    void writeLine(const char* line, std::size_t length) const noexcept;
    void writeToConsole(const char* text, std::size_t length) const noexcept;
    void writeReport(int file, int signal, const siginfo_t* info,
                     const char* description) const noexcept;

    std::vector<Description> _descriptions;
    const FatalSignalLog* _log;
    posix::debug::CrashReportWriter _reportWriter;
    posix::debug::SignalSafeClock _clock;
    platform::thread::AlternateSignalStack _ownStack;
    std::vector<struct sigaction> _previous;
};

}  // namespace posix::signals
