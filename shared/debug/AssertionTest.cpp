#include "debug/assertion.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The failing checks run in death-test children whose working directory is a fresh folder and
// whose standard output goes to a file there, so both copies of the report can be read. A second
// report is appended; without a description its line is left out; the macro reports the text it
// was given, and only when the condition fails.
TEST(AssertionTest, ReportsAreLabelledAppendedAndEndTheProcess) {
    const fs::path dir = fs::temp_directory_path() / ("qm_assertion_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto failInDir = [&](const char* expression, const char* description) {
        if (::chdir(dir.c_str()) != 0) std::_Exit(3);
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
            if (::chdir(dir.c_str()) != 0) std::_Exit(3);
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
    fs::remove_all(dir);
}

}  // namespace
