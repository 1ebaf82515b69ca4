#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "platform/PlatformTestSupport.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "posix/debug/WriteDumpImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "posix/signals/FatalSignalHandlers.h"
#include "server/LogImpl.h"
#include "server/QuillmarkThreadLog.h"
#include "server/SehExceptionMapperImpl.h"

namespace {

namespace fs = std::filesystem;
using namespace norvale::quillmark;

__attribute__((noinline, no_sanitize_undefined)) void dereferenceNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

class Crasher : public platform::thread::Runnable {
public:
    void run() override { dereferenceNull(); }
};

// The process objects as start-up wires them: a null dereference on a logging thread leaves the
// log line with the table's text and a crash report beside the log file, and ends the process.
TEST(FatalSignalLogTest, CrashInAThreadReachesTheLogFile) {
    platform::testing::TempFolder folder;
    const std::string logFile = (folder.path() / "log.txt").string();
    const std::string dumpFolder = folder.path().string() + "/";
    EXPECT_EXIT(
        {
            io::filesystem::SaveFileImpl saveFile;
            io::filesystem::RotateFileImpl rotateFile;
            posix::debug::WriteDumpImpl writeDump;
            platform::memory::MemoryStatusImpl memory;
            Metrics metrics;
            LogImpl log(&saveFile, &rotateFile, &writeDump, &memory, &metrics, logFile, dumpFolder);
            log.setFileOutput(true);
            log.setConsoleOutput(false);
            SehExceptionMapperImpl mapper;
            posix::signals::FatalSignalHandlers handlers(&mapper, &log);
            log.log("Waiting for connections...");

            platform::thread::OsInfoImpl osInfo;
            QuillmarkThreadLog threadLog(&log);
            platform::thread::LoggingThreadFactoryImpl factory(&osInfo, &threadLog);
            Crasher crasher;
            auto thread = factory.create(&crasher);
            thread->setName("Connection 1");
            thread->start();
            thread->join();
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");

    const std::string logged = platform::testing::readFile(logFile);
    const std::regex shape(
        "[^\n]* \\[Log\\] [^\n]* Waiting for connections\\.\\.\\.\n"
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} \\[Error\\] "
        "\\[ThreadId: ([0-9]+)\\]\n"
        "A SEH exception occurred in one of the running threads\\.\n"
        "Thread name: Connection 1\\.\nThread id: ([0-9]+)\\.\n"
        "The thread tried to read from or write to a virtual address that it does not have "
        "appropriate access to\\. \\(EXCEPTION_ACCESS_VIOLATION\\)\n"
        "Dump is here: ([^\n]*)\n\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(logged, match, shape)) << logged;
    EXPECT_EQ(match[1], match[2]);
    const fs::path dump = match[3].str();
    EXPECT_EQ(folder.path(), dump.parent_path());
    EXPECT_EQ(0u, dump.filename().string().find("dump_threadid_" + match[1].str() + "_time_"));
    EXPECT_NE(std::string::npos,
              platform::testing::readFile(dump).find("(EXCEPTION_ACCESS_VIOLATION)\n"));
}

}  // namespace
