#include "debug/assertion.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "platform/PlatformTestSupport.h"

namespace {

using platform::testing::enterFolder;
using platform::testing::readFile;

// The failing checks run in death-test children whose working directory is a fresh folder and
// whose standard output goes to a file there, so both copies of the report can be read. A second
// report is appended; without a description its line is left out; the macro reports the text it
// was given, and only when the condition fails.
TEST(AssertionTest, ReportsAreLabelledAppendedAndEndTheProcess) {
    const platform::testing::TempFolder folder;
    const auto dir = folder.path();
    const auto failInDir = [&](const char* expression, const char* description) {
        enterFolder(dir);
        const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(out, STDOUT_FILENO);
        debug::assertion(expression, description, "storage/VectorLane.h", 123);
    };
    int calls = 0;
    QM_ASSERT(++calls == 1, "must hold");
    EXPECT_EQ(1, calls);

    EXPECT_DEATH(failInDir("feature.size() == N", "A feature has other than lane size"), "false");
    const std::string report = readFile(dir / "stdout.txt");
    const std::regex layout(
        "----------------------------------------\n"
        "Assertion failed\\. Message: feature\\.size\\(\\) == N\n"
        "Description: A feature has other than lane size\n"
        "File: storage/VectorLane\\.h\n"
        "Line: 123\n"
        "Occurred: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n"
        "\n"
        "Please contact the developers and include this message\\.\n"
        "Thank you for helping us improve the software\\.\n"
        "----------------------------------------\n\n");
    EXPECT_TRUE(std::regex_match(report, layout)) << report;
    EXPECT_EQ(report, readFile(dir / "assertion.txt"));

    EXPECT_DEATH(failInDir("!_hasQuit", nullptr), "");
    EXPECT_DEATH(
        {
            enterFolder(dir);
            QM_ASSERT_TEXT(calls == 2, "_permaDeleted > 0", "Perma deleted is becomming zero.");
        },
        "");
    const std::string log = readFile(dir / "assertion.txt");
    EXPECT_EQ(0u, log.find(report));
    const auto second = log.find("Message: !_hasQuit\nFile: ");
    const auto third =
        log.find("Message: _permaDeleted > 0\nDescription: Perma deleted is becomming zero.\n");
    ASSERT_NE(std::string::npos, second);
    ASSERT_NE(std::string::npos, third);
    EXPECT_LT(second, third);
}

}  // namespace
