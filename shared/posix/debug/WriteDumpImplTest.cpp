#include "posix/debug/WriteDumpImpl.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/PlatformTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/CurrentThread.h"

namespace {

namespace fs = std::filesystem;
using platform::errorresources::systemErrorText;
using platform::testing::readFile;
using posix::debug::WriteDumpException;
using posix::debug::WriteDumpImpl;

class WriteDumpImplTest : public testing::Test {
protected:
    platform::testing::TempFolder _folder;
    WriteDumpImpl _dump;
};

// An existing file of the name is replaced.
TEST_F(WriteDumpImplTest, ReportHoldsTimeThreadBacktraceAndProcessState) {
    const std::string path = (_folder.path() / "dump_threadid_1_time_2.dmp").string();
    std::ofstream(path) << std::string(2000000, 'x');
    _dump.write(path);
    const std::string report = readFile(path);
    const std::regex time(
        "\nTime: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n");
    EXPECT_EQ(0u, report.find("Crash report\n"));
    EXPECT_LT(report.size(), 2000000u);
    EXPECT_TRUE(std::regex_search(report, time)) << report.substr(0, 200);
    EXPECT_NE(
        std::string::npos,
        report.find("\nThread id: " + std::to_string(platform::thread::currentThreadId()) + "\n"));
    const auto backtrace = report.find("Backtrace of the thread:\n");
    const auto status = report.find("\n/proc/self/status:\nName:");
    const auto maps = report.find("\n/proc/self/maps:\n");
    ASSERT_NE(std::string::npos, backtrace);
    ASSERT_NE(std::string::npos, status);
    ASSERT_NE(std::string::npos, maps);
    EXPECT_LT(backtrace, status);
    EXPECT_LT(status, maps);
    // At least the test body and the frames above it.
    EXPECT_GT(std::count(report.begin() + backtrace, report.begin() + status, '\n'), 3);
    EXPECT_NE(std::string::npos, report.find("PosixDebugTest", maps));
}

// A file-size limit makes the writes fail half-way, as a full disk would: the half-written report
// is removed and the reason given. Runs in a child so the limit dies with it.
TEST_F(WriteDumpImplTest, FailedWriteDeletesTheFile) {
    const std::string path = (_folder.path() / "cut.dmp").string();
    const std::string result = (_folder.path() / "result.txt").string();
    EXPECT_EXIT(
        {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            rlimit small = limit;
            small.rlim_cur = 300;
            ::setrlimit(RLIMIT_FSIZE, &small);
            std::string message = "no exception";
            try {
                _dump.write(path);
            } catch (const WriteDumpException& e) {
                message = e.what();
            }
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::ofstream(result) << message;
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ("Couldn't write dump.\n\n" + systemErrorText(EFBIG), readFile(result));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
