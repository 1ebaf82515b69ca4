// The fatal ends of a thread as start-up wires the process: the log line, the console copy and
// the crash report beside the log.
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "posix/debug/WriteDumpImpl.h"
#include "posix/file/CreateFolderImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "posix/signals/FatalSignalHandlers.h"
#include "server/LogImpl.h"
#include "server/QuillmarkThreadLog.h"
#include "server/SehExceptionMapperImpl.h"
#include "server/TerminateHandlerImpl.h"

namespace {

using namespace norvale::quillmark;
using io::filesystem::test::TempFolder;

// Faults the sanitizers must not intercept first: the point is the signal.
__attribute__((noinline, no_sanitize_undefined)) void dereferenceNull() {
    // A volatile pointer: the compiler cannot see that it is null and drop the store.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

// The limit is never reached: the stack runs out long before.
__attribute__((noinline)) int recurseForever(long depth) {
    volatile char frame[1024];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    if (depth == 1L << 40) return frame[0];
    return recurseForever(depth + 1) + frame[(depth + 1) % sizeof frame];
}

// The process objects as start-up wires them, with the log in `folder`/log.txt and on the console
// with journald's prefixes, running `crash` on a logging thread named "Connection 1".
struct WiredProcess : platform::thread::Runnable {
    WiredProcess(const TempFolder& folder, const std::string& dumps, void (*crash)())
        : log(&saveFile, &rotateFile, &createFolder, &writeDump, &memory, &metrics,
              folder.path("log.txt"), dumps),
          crash(crash) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);  // where the death test reads
        log.setFileOutput(true);
        log.setJournalPrefixes(true);
        terminateHandler.install();
        log.log("Waiting for connections...");
        auto thread = factory.create(this);
        thread->setName("Connection 1");
        thread->start();
        thread->join();
        std::_Exit(0);
    }
    void run() override { crash(); }

    io::filesystem::SaveFileImpl saveFile;
    io::filesystem::RotateFileImpl rotateFile;
    posix::file::CreateFolderImpl createFolder;
    posix::debug::WriteDumpImpl writeDump;
    platform::memory::MemoryStatusImpl memory;
    Metrics metrics;
    LogImpl log;
    SehExceptionMapperImpl mapper;
    posix::signals::FatalSignalHandlers handlers{&mapper, &log};
    TerminateHandlerImpl terminateHandler{&log};
    platform::thread::OsInfoImpl osInfo;
    QuillmarkThreadLog threadLog{&log};
    platform::thread::LoggingThreadFactoryImpl factory{&osInfo, &threadLog};
    void (*crash)();
};

// A null dereference and a stack overflow (its handler runs on an alternate stack) on a logging
// thread, the same with a dump folder that cannot hold the report, and an exception nobody
// catches on any thread: each ends the process and leaves its lines in the log file after the
// lines before; the console copy carries journald's priority on every line, the file none. The
// crash report holds the signal, the thread, the time, a backtrace and the process's status
// and maps.
TEST(FatalSignalLogTest, FatalEndsOfAnyThreadReachTheLogFileAndTheReport) {
    const TempFolder folder;
    const std::string dumps = folder.path(""), plainFile = folder.write("plain", "x") + "/";
    const std::string described =
        "The thread tried to read from or write to a virtual address that it does not have "
        "appropriate access to\\. \\(EXCEPTION_ACCESS_VIOLATION\\)\n";
    EXPECT_EXIT((WiredProcess(folder, dumps, dereferenceNull)), ::testing::KilledBySignal(SIGSEGV),
                "\n<2>A SEH exception occurred in one of the running threads\\.\n<2>Thread name: "
                "Connection 1\\.\n<2>Thread id: [0-9]+\\.\n<2>" +
                    described + "<2>Dump is here: ");
    EXPECT_EXIT((WiredProcess(folder, dumps, [] { recurseForever(0); })),
                ::testing::KilledBySignal(SIGSEGV), "<2>Dump is here: ");
    EXPECT_EXIT((WiredProcess(folder, plainFile, dereferenceNull)),
                ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT((WiredProcess(folder, dumps, [] { std::thread([] { throw 42; }).join(); })),
                ::testing::ExitedWithCode(255), "");

    const std::string logged = TempFolder::read(folder.path("log.txt"));
    const std::string errorLine = "[^\n]* \\[Error\\] \\[ThreadId: ([0-9]+)\\]\n";
    const std::string waiting = "[^\n]* \\[Log\\] [^\n]* Waiting for connections\\.\\.\\.\n";
    const std::string fault = waiting + errorLine +
                              "A SEH exception occurred in one of the running threads\\.\n"
                              "Thread name: Connection 1\\.\nThread id: ([0-9]+)\\.\n" +
                              described;
    const std::string dump = "Dump is here: ([^\n]*)\n\n";
    const std::regex shape(fault + dump + fault + dump + fault + "Failed to create dump \\(" +
                           plainFile + "dump_threadid_[0-9]+_time_[0-9]+\\.dmp\\) [^\n]*\n\n" +
                           platform::errorresources::systemErrorText(ENOTDIR) + "\n\n" + waiting +
                           errorLine + "The termination handler was called\\.\n\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(logged, match, shape)) << logged;
    EXPECT_EQ(match[1], match[2]);
    EXPECT_EQ(0u, match[3].str().find(folder.path("dump_threadid_" + match[1].str() + "_time_")));

    const std::string report = TempFolder::read(match[3].str());
    const auto backtrace = report.find("\nBacktrace of the thread:\n");
    const auto status = report.find("\n/proc/self/status:\nName:");
    const auto maps = report.find("\n/proc/self/maps:\n");
    ASSERT_TRUE(backtrace < status && status < maps && maps != std::string::npos) << report;
    EXPECT_TRUE(std::regex_match(
        report.substr(0, backtrace + 1),
        std::regex("Crash report\nTime: [A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}\n"
                   "Process id: [0-9]+\nThread id: " +
                   match[1].str() +
                   "\nThread name: Connection 1\nFatal signal: SIGSEGV \\(11\\), code 1, address "
                   "0x0\n" +
                   described + "\n")))
        << report.substr(0, backtrace);
    // The backtrace holds at least the crashing function and the frames above it.
    EXPECT_GT(std::count(report.begin() + backtrace, report.begin() + status, '\n'), 3);
    EXPECT_NE(std::string::npos, report.find("LogConcurrencyTest", maps));
}

}  // namespace
