#include "posix/debug/CrashReportWriter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/thread/CurrentThread.h"
#include "posix/debug/FixedText.h"

namespace posix::debug {

namespace {
constexpr int MaxFrames = 128;
}  // namespace

bool writeFully(int fd, const char* bytes, std::size_t length) noexcept {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

CrashReportWriter::CrashReportWriter() noexcept {
    // The first backtrace() loads the unwinding library (dlopen, malloc); do it here, where that
    // is allowed, so that a signal handler's call finds it loaded.
    void* frames[4];
    ::backtrace(frames, 4);
}

bool CrashReportWriter::write(int fd, const char* headline) const noexcept {
    return writeHeader(fd, headline) && writeBacktrace(fd) &&
           copyFile(fd, "\n/proc/self/status:\n", "/proc/self/status") &&
           copyFile(fd, "\n/proc/self/maps:\n", "/proc/self/maps");
}

bool CrashReportWriter::writeHeader(int fd, const char* headline) const noexcept {
    char time[32];
    if (!_clock.timeText(SignalSafeClock::now(), time, sizeof time)) time[0] = '\0';
    char buffer[1024];
    FixedText header(buffer, sizeof buffer);
    header.append("Crash report\nTime: ").append(time);
    header.append("\nProcess id: ").appendDecimal(std::int64_t{::getpid()});
    header.append("\nThread id: ")
        .appendDecimal(std::uint64_t{platform::thread::currentThreadId()});
    header.append("\nThread name: ").append(platform::thread::currentThreadName()).append("\n");
    if (headline != nullptr) header.append(headline).append("\n");
    header.append("\nBacktrace of the thread:\n");
    return writeFully(fd, header.text(), header.length());
}

bool CrashReportWriter::writeBacktrace(int fd) noexcept {
    void* frames[MaxFrames];
    const int count = ::backtrace(frames, MaxFrames);
    // backtrace_symbols_fd reports no failure; a broken fd shows at the next write.
    ::backtrace_symbols_fd(frames, count, fd);
    return true;
}

bool CrashReportWriter::copyFile(int fd, const char* title, const char* path) noexcept {
    if (!writeFully(fd, title, __builtin_strlen(title))) return false;
    const int source = ::open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        static const char missing[] = "(not readable)\n";
        return writeFully(fd, missing, sizeof missing - 1);
    }
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(source, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (!writeFully(fd, chunk, static_cast<std::size_t>(got))) {
            ok = false;
            break;
        }
    }
    const int saved = errno;
    ::close(source);
    errno = saved;
    return ok;
}

}  // namespace posix::debug
