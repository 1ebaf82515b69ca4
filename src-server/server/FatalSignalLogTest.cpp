#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "posix/debug/WriteDumpImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "posix/signals/FatalSignalHandlers.h"
#include "server/LogImpl.h"
#include "server/QuillmarkThreadLog.h"
#include "server/SehExceptionMapperImpl.h"
#include "server/TerminateHandlerImpl.h"

namespace {

using namespace norvale::quillmark;
using io::filesystem::test::TempFolder;

__attribute__((noinline, no_sanitize_undefined)) void dereferenceNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

// The process objects as start-up wires them, with the log in `folder`/log.txt, running `crash`
// on a logging thread named "Connection 1".
struct WiredProcess : platform::thread::Runnable {
    WiredProcess(const TempFolder& folder, void (*crash)())
        : log(&saveFile, &rotateFile, &writeDump, &memory, &metrics, folder.path("log.txt"),
              folder.path("")),
          crash(crash) {
        log.setFileOutput(true);
        log.setConsoleOutput(false);
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

// A null dereference on a logging thread and an exception nobody catches on any thread each end
// the process and leave their lines in the log file after the lines before, the fault also a
// crash report beside it.
TEST(FatalSignalLogTest, FatalEndsOfAnyThreadReachTheLogFile) {
    const TempFolder folder;
    EXPECT_EXIT((WiredProcess(folder, dereferenceNull)), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT((WiredProcess(folder, [] { std::thread([] { throw 42; }).join(); })),
                ::testing::ExitedWithCode(255), "");

    const std::string logged = TempFolder::read(folder.path("log.txt"));
    const std::string errorLine = "[^\n]* \\[Error\\] \\[ThreadId: ([0-9]+)\\]\n";
    const std::string waiting = "[^\n]* \\[Log\\] [^\n]* Waiting for connections\\.\\.\\.\n";
    const std::regex shape(
        waiting + errorLine +
        "A SEH exception occurred in one of the running threads\\.\n"
        "Thread name: Connection 1\\.\nThread id: ([0-9]+)\\.\n"
        "The thread tried to read from or write to a virtual address that it does not have "
        "appropriate access to\\. \\(EXCEPTION_ACCESS_VIOLATION\\)\n"
        "Dump is here: ([^\n]*)\n\n" +
        waiting + errorLine + "The termination handler was called\\.\n\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(logged, match, shape)) << logged;
    EXPECT_EQ(match[1], match[2]);
    EXPECT_EQ(0u, match[3].str().find(folder.path("dump_threadid_" + match[1].str() + "_time_")));
    EXPECT_NE(std::string::npos,
              TempFolder::read(match[3].str()).find("(EXCEPTION_ACCESS_VIOLATION)\n"));
}

}  // namespace
