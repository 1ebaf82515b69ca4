#include "server/CrashReportBudget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/PlatformTestSupport.h"

namespace norvale::quillmark {
namespace {

namespace fs = std::filesystem;

// Errors of one kind differ only in the details a client causes (a connection's id and what
// follows it); the kinds within one interval are bounded.
TEST(CrashReportBudgetTest, OneReportPerKindAndIntervalOfBoundedKinds) {
    CrashReportBudget budget;
    const std::tuple<const char*, std::time_t, bool> steps[] = {
        {"An SocketException when running a connection with id 7. reset", 1000, true},
        {"An SocketException when running a connection with id 8. timeout", 1009, false},
        {"Out of memory.", 1009, true},
        {"Caught an exception while iterating calls. Method: 'a'", 1009, true},
        {"Caught an exception while iterating calls. Method: 'b'", 1009, false},
        {"An SocketException when running a connection with id 9. reset", 1010, true},
        {"Out of memory.", 1018, false},
        {"Out of memory.", 1019, true},
    };
    for (const auto& [message, at, admitted] : steps) EXPECT_EQ(admitted, budget.admitError(message, at)) << message << at;
    CrashReportBudget full;
    for (std::size_t n = 0; n < CrashReportBudget::MaxKinds; ++n) {
        ASSERT_TRUE(full.admitError({'k', static_cast<char>('a' + n / 26), static_cast<char>('a' + n % 26)}, 500));
    }
    EXPECT_FALSE(full.admitError("one kind too many", 505));
    EXPECT_TRUE(full.admitError("one kind too many", 510));
}

// The oldest reports go until both the count and the byte bound hold; other files stay.
TEST(CrashReportBudgetTest, OldestReportsGoFirstAndOtherFilesStay) {
    platform::testing::TempFolder folder;
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto report = [&](const std::string& name, int age, std::uintmax_t bytes = 6) {
        const fs::path path = folder.path() / name;
        std::ofstream(path) << "report";
        fs::resize_file(path, bytes);  // sparse: costs no disk
        fs::last_write_time(path, past - std::chrono::seconds(age));
        return path.string();
    };
    const std::string huge = report("dump_threadid_1_time_5.dmp", 5, CrashReportBudget::MaxBytes);
    const std::string oldest = report("dump_threadid_1_time_9.dmp", 9);
    for (std::size_t n = 0; n + 2 < CrashReportBudget::MaxFiles; ++n) report("dump_threadid_2_time_" + std::to_string(n) + ".dmp", 0);
    report("quillmark.log", 100);
    report("dump_notes.txt", 100);
    EXPECT_EQ((std::vector<std::string>{oldest, huge}), CrashReportBudget::makeRoom(folder.path()));
    EXPECT_TRUE(CrashReportBudget::makeRoom(folder.path()).empty());
    EXPECT_TRUE(fs::exists(folder.path() / "quillmark.log") && fs::exists(folder.path() / "dump_notes.txt"));
    EXPECT_TRUE(CrashReportBudget::makeRoom((folder.path() / "missing").string()).empty());
}

}  // namespace
}  // namespace norvale::quillmark
