// The client walkthrough of README.md, run against the server's request execution: every line
// of the block marked "readme-test: walkthrough" is a quillmark command, optionally fed by
// `echo "..." |`, and the output of all of them is the block marked "readme-test: output".
// (ReadmeWalkthroughTest.sh runs the same blocks verbatim with the built programs.)

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/CommandRunner.h"
#include "client/ExecutingServerTestSupport.h"

namespace norvale::quillmark::client {
namespace {

// The fenced block after the line "<!-- readme-test: NAME -->", empty when there is none.
std::string block(const std::string& readme, const std::string& name) {
    const std::size_t marker = readme.find("<!-- readme-test: " + name + " -->\n");
    if (marker == std::string::npos) return "";
    const std::size_t fence = readme.find("```", marker);
    const std::size_t start = readme.find('\n', fence) + 1;
    const std::size_t end = readme.find("\n```", start);
    return readme.substr(start, end - start + 1);
}

// Words of a command line: blanks separate, double quotes group.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) result.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    EXPECT_FALSE(quoted) << line;
    if (inWord) result.push_back(word);
    return result;
}

TEST(ReadmeWalkthroughTest, EveryCommandRunsAndPrintsWhatTheReadmeShows) {
    std::ifstream file(std::string(QM_SOURCE_DIR) + "/README.md");
    std::stringstream readme;
    readme << file.rdbuf();
    const std::string walkthrough = block(readme.str(), "walkthrough");
    ASSERT_FALSE(walkthrough.empty());
    // The paths in the walkthrough are relative to the checkout.
    ASSERT_EQ(::chdir(QM_SOURCE_DIR), 0);

    test::ExecutingServer server;
    std::istringstream lines(walkthrough);
    std::string output;
    int commands = 0;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> command = words(line);
        std::string input;
        if (command.size() > 3 && command[0] == "echo" && command[2] == "|") {
            input = command[1] + "\n";
            command.erase(command.begin(), command.begin() + 3);
        }
        ASSERT_GE(command.size(), 2u) << line;
        ASSERT_EQ(command.front(), "quillmark") << "not a quillmark command: " << line;
        command.erase(command.begin());
        const test::ClientRun run = test::runQuillmark(server.port(), command, input);
        EXPECT_EQ(run.status, exitStatus::Success) << line << "\n" << run.err;
        output += run.out;
        ++commands;
    }
    EXPECT_GE(commands, 7);
    EXPECT_EQ(output, block(readme.str(), "output")) << "the walkthrough printed:\n" << output;
}

}  // namespace
}  // namespace norvale::quillmark::client
