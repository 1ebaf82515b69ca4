#include "posix/signals/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"

namespace posix::signals {

namespace {

// The write end of the installed object's pipe, read by the handler; -1 when none is installed.
std::atomic<int> installedPipe{-1};

// Written by the destructor to end the watcher; never a signal number.
constexpr char QuitByte = 0;

std::string failure(const std::string& call) {
    return "Could not prepare the stop signals using '" + call + "'. " +
           platform::errorresources::lastSystemErrorText();
}

}  // namespace

StopSignals::StopSignals(platform::event::Event* stopEvent,
                         const platform::thread::ThreadFactory* threads)
    : _stopEvent(stopEvent) {
    QM_ASSERT(installedPipe.load() == -1, "A second StopSignals object was installed.");
    if (::pipe2(_pipe, O_CLOEXEC) != 0) throw StopSignalsException(failure("pipe2"));
    try {
        _watcher = threads->create(this);
        _watcher->setName(WatcherThreadName);
        _watcher->start();
    } catch (...) {
        closePipe();
        throw;
    }
    installedPipe.store(_pipe[1]);
    try {
        install();
    } catch (...) {
        restore();
        const char quit = QuitByte;
        while (::write(_pipe[1], &quit, 1) < 0 && errno == EINTR) {
        }
        _watcher->join();
        closePipe();
        throw;
    }
}

StopSignals::~StopSignals() {
    restore();
    const char quit = QuitByte;
    while (::write(_pipe[1], &quit, 1) < 0 && errno == EINTR) {
    }
    _watcher->join();
    closePipe();
}

void StopSignals::install() {
    struct sigaction action {};
    action.sa_handler = &StopSignals::handle;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGINT, &action, &_previousInterrupt) != 0) {
        throw StopSignalsException(failure("sigaction"));
    }
    _interruptInstalled = true;
    if (::sigaction(SIGTERM, &action, &_previousTerminate) != 0) {
        throw StopSignalsException(failure("sigaction"));
    }
    _terminateInstalled = true;
}

void StopSignals::restore() noexcept {
    if (_terminateInstalled) ::sigaction(SIGTERM, &_previousTerminate, nullptr);
    if (_interruptInstalled) ::sigaction(SIGINT, &_previousInterrupt, nullptr);
    _terminateInstalled = _interruptInstalled = false;
    installedPipe.store(-1);
}

void StopSignals::closePipe() noexcept {
    for (int& end : _pipe) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

// Only async-signal-safe calls; errno is kept for the code the signal interrupted.
void StopSignals::handle(int signal) {
    const int savedErrno = errno;
    const int pipe = installedPipe.load();
    if (pipe >= 0) {
        const char byte = static_cast<char>(signal);
        ssize_t written;
        do {
            written = ::write(pipe, &byte, 1);
        } while (written < 0 && errno == EINTR);
    }
    errno = savedErrno;
}

void StopSignals::run() {
    for (;;) {
        char byte;
        const ssize_t n = ::read(_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == QuitByte) return;
        _stopEvent->set();
    }
}

}  // namespace posix::signals
