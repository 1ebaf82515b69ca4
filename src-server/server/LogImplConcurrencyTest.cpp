#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "platform/PlatformTestSupport.h"
#include "posix/signals/HangUpSignal.h"
#include "server/LogImpl.h"
#include "server/LogTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace norvale::quillmark;
using namespace norvale::quillmark::testing;

constexpr int Threads = 16, LinesPerThread = 200;
constexpr std::uint64_t RotationBytes = 8 * 1024;

// Each line carries its writer, its number and a long body; any interleaving in the file or on
// the console breaks the expected shape of some line. While they write, the log file is rotated
// by size, and, from the first rotation on, a second thread plays logrotate: it moves the file
// away and sends SIGHUP. Every line printed must be in exactly one file, and no file may pass
// the rotation size.
TEST(LogImplConcurrencyTest, SixteenWritersLoseNoLineWhileTheFileIsRotated) {
    platform::testing::TempFolder folder;
    io::filesystem::SaveFileImpl saveFile;
    io::filesystem::RotateFileImpl rotateFile;
    RecordingWriteDump dump;
    FixedMemoryStatus memory(5000000);
    const std::string path = (folder.path() / "log.txt").string();
    Metrics metrics;
    LogImpl log(&saveFile, &rotateFile, &dump, &memory, &metrics, path, folder.path().string() + "/");
    log.setFileOutput(true);
    log.setLogMemory(true);
    log.setFileRotation(RotationBytes, 1000);  // enough copies that none is dropped
    posix::signals::HangUpSignal hangUp(&log);

    ::testing::internal::CaptureStdout();
    std::atomic<bool> writing{true};
    std::thread logrotate([&] {
        while (writing && !fs::exists(path + ".1")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int moved = 0; writing; ++moved) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::error_code missing;
            fs::rename(path, folder.path() / ("moved-" + std::to_string(moved)), missing);
            ::kill(::getpid(), SIGHUP);
        }
    });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < Threads; ++writer) {
        writers.emplace_back([&log, writer] {
            const std::string body(100 + writer * 7, static_cast<char>('a' + writer));
            for (int n = 0; n < LinesPerThread; ++n) {
                const std::string message = "w" + std::to_string(writer) + " n" + std::to_string(n) + " " + body;
                n % 2 == 0 ? log.log(message) : log.test(message);
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    writing = false;
    logrotate.join();
    const std::string printed = ::testing::internal::GetCapturedStdout();

    std::map<std::string, int> written;
    int rotated = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const std::string content = platform::testing::readFile(entry.path());
        EXPECT_LE(content.size(), RotationBytes) << entry.path();
        rotated += entry.path().filename().string().rfind("log.txt.", 0) == 0 ? 1 : 0;
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);) ++written[line];
    }
    EXPECT_GT(rotated, 0);

    const std::regex shape(std::string(TimePattern) +
                           " \\[(Log|Test)\\] \\[ThreadId: [0-9]+\\] \\[Free: 5MB\\] w([0-9]+) n([0-9]+) ([a-p]+)");
    std::istringstream lines(printed);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int writer = std::stoi(match[2]), n = std::stoi(match[3]);
        EXPECT_EQ(std::string(100 + writer * 7, static_cast<char>('a' + writer)), match[4].str());
        EXPECT_EQ(n % 2 == 0 ? "Log" : "Test", match[1].str());
        EXPECT_EQ(1, written[line]--) << line;
    }
    EXPECT_EQ(Threads * LinesPerThread, count);
    for (const auto& [text, left] : written) EXPECT_EQ(0, left) << "not printed: " << text;
}

}  // namespace
