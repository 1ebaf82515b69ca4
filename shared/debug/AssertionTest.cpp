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
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
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
    const auto enter = [&] {
        if (::chdir(dir.c_str()) != 0) std::_Exit(3);
        ::dup2(::open("stdout.txt", O_WRONLY | O_CREAT | O_APPEND, 0644), STDOUT_FILENO);
    };
    int calls = 0;
    QM_ASSERT(++calls == 1, "must hold");
    EXPECT_EQ(1, calls);
    EXPECT_DEATH(
        {
            enter();
            debug::assertion("feature.size() == N", "A feature has other than lane size",
                             "storage/VectorLane.h", 123);
        },
        "false");
    EXPECT_DEATH(
        {
            enter();
            debug::assertion("!_hasQuit", nullptr, "a.cpp", 1);
        },
        "");
    EXPECT_DEATH(
        {
            enter();
            QM_ASSERT_TEXT(calls == 2, "_permaDeleted > 0", "Perma deleted is becomming zero.");
        },
        "");
    const std::string report =
        "----------------------------------------\n"
        "Assertion failed\\. Message: (.*)\n(Description: (.*)\n)?"
        "File: .*\nLine: [0-9]+\n"
        "Occurred: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}\n"
        "\n"
        "Please contact the developers and include this message\\.\n"
        "Thank you for helping us improve the software\\.\n"
        "----------------------------------------\n\n";
    const std::string log = readFile(dir / "assertion.txt");
    EXPECT_TRUE(std::regex_match(log, std::regex(report + report + report))) << log;
    EXPECT_EQ(log, readFile(dir / "stdout.txt"));
    EXPECT_NE(std::string::npos, log.find("Message: feature.size() == N\nDescription: A feature "
                                          "has other than lane size\nFile: storage/VectorLane.h\n"
                                          "Line: 123\n"));
    EXPECT_NE(std::string::npos, log.find("Message: !_hasQuit\nFile: a.cpp\n"));
    EXPECT_NE(std::string::npos, log.find("Message: _permaDeleted > 0\nDescription: Perma deleted "
                                          "is becomming zero.\n"));
    fs::remove_all(dir);
}

}  // namespace
