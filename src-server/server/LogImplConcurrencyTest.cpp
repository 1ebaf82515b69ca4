#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "io/filesystem/SaveFileImpl.h"
#include "platform/PlatformTestSupport.h"
#include "server/LogImpl.h"
#include "server/LogTestSupport.h"

namespace {

using namespace norvale::quillmark;
using namespace norvale::quillmark::testing;

constexpr int Threads = 16;
constexpr int LinesPerThread = 200;

// Each line carries its writer, its number and a long body; any interleaving in the file or on
// the console breaks the expected shape of some line.
TEST(LogImplConcurrencyTest, SixteenWritersNeverInterleaveLines) {
    platform::testing::TempFolder folder;
    io::filesystem::SaveFileImpl saveFile;
    RecordingWriteDump dump;
    FixedMemoryStatus memory(5000000);
    const std::string path = (folder.path() / "log.txt").string();
    LogImpl log(&saveFile, &dump, &memory, path, folder.path().string() + "/");
    log.setFileOutput(true);
    log.setLogMemory(true);

    ::testing::internal::CaptureStdout();
    std::vector<std::thread> writers;
    for (int writer = 0; writer < Threads; ++writer) {
        writers.emplace_back([&log, writer] {
            const std::string body(100 + writer * 7, static_cast<char>('a' + writer));
            for (int n = 0; n < LinesPerThread; ++n) {
                const std::string message =
                    "w" + std::to_string(writer) + " n" + std::to_string(n) + " " + body;
                if (n % 2 == 0) {
                    log.log(message);
                } else {
                    log.test(message);
                }
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    const std::string written = platform::testing::readFile(path);
    EXPECT_EQ(written, printed);

    const std::regex shape(std::string(TimePattern) +
                           " \\[(Log|Test)\\] \\[ThreadId: [0-9]+\\] \\[Free: 5MB\\] "
                           "w([0-9]+) n([0-9]+) ([a-p])+");
    std::istringstream lines(written);
    std::set<std::pair<int, int>> seen;
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int writer = std::stoi(match[2]);
        const int n = std::stoi(match[3]);
        EXPECT_EQ(std::string(100 + writer * 7, static_cast<char>('a' + writer)),
                  line.substr(line.size() - (100 + writer * 7)));
        EXPECT_EQ(n % 2 == 0 ? "Log" : "Test", match[1].str());
        seen.emplace(writer, n);
    }
    EXPECT_EQ(static_cast<std::size_t>(Threads * LinesPerThread), seen.size());
}

}  // namespace
