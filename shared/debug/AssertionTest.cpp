#include "debug/assertion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "io/filesystem/TempFolder.h"
#include "platform/PlatformTestSupport.h"

namespace {

using platform::testing::enterFolder;

// The failing checks run in death-test children whose working directory is a fresh folder; the
// first one's standard output goes where the death test reads. Each report is printed and
// appended to the file; without a description its line is left out; the macro reports the text
// it was given, and only when the condition fails.
TEST(AssertionTest, ReportsAreLabelledAppendedAndEndTheProcess) {
    const io::filesystem::test::TempFolder folder;
    int calls = 0;
    QM_ASSERT(++calls == 1, "must hold");
    EXPECT_EQ(1, calls);
    const auto report = [](const std::string& message, const std::string& place) {
        return "-{40}\nAssertion failed\\. Message: " + message + "\n" + place +
               "\nOccurred: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:"
               "[0-9]{2} [0-9]{4}\n\nPlease contact the developers and include this message\\.\n"
               "Thank you for helping us improve the software\\.\n-{40}\n\n";
    };
    const std::string first = report("feature\\.size\\(\\) == N",
                                     "Description: A feature has other than lane size\n"
                                     "File: storage/VectorLane\\.h\nLine: 123");
    EXPECT_DEATH(
        {
            enterFolder(folder.path(""));
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            debug::assertion("feature.size() == N", "A feature has other than lane size",
                             "storage/VectorLane.h", 123);
        },
        first);
    EXPECT_DEATH(
        {
            enterFolder(folder.path(""));
            debug::assertion("!_hasQuit", nullptr, "server/Quit.cpp", 7);
        },
        "");
    EXPECT_DEATH(
        {
            enterFolder(folder.path(""));
            QM_ASSERT_TEXT(calls == 2, "_permaDeleted > 0", "Perma deleted is becomming zero.");
        },
        "");
    const std::string logged = folder.read(folder.path("assertion.txt"));
    EXPECT_TRUE(std::regex_match(
        logged, std::regex(first + report("!_hasQuit", "File: server/Quit\\.cpp\nLine: 7") +
                           report("_permaDeleted > 0",
                                  "Description: Perma deleted is becomming zero\\.\nFile: "
                                  "[^\n]*AssertionTest\\.cpp\nLine: [0-9]+"))))
        << logged;
}

}  // namespace
