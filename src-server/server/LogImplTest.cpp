// The log's lines, rotation and crash reports, and many writers at once.

#include "server/LogImpl.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/thread/CurrentThread.h"
#include "posix/debug/WriteDump.h"
#include "posix/file/CreateFolderImpl.h"
#include "posix/memory/MemoryStatus.h"
#include "posix/signals/HangUpSignal.h"
#include "server/LogLevel.h"
#include "server/LogTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace norvale::quillmark;
using namespace norvale::quillmark::testing;

// Tells a fixed size and records the rotations asked for; for logs whose file is a fake.
class RecordingRotateFile : public io::filesystem::RotateFile {
public:
    std::uint64_t size(const std::string&) const override { return fileSize; }
    void rotate(const std::string& path, int keep) const override {
        if (failWith != nullptr) throw io::filesystem::RotateFileException(failWith);
        rotations.push_back(path + " " + std::to_string(keep));
    }

    std::uint64_t fileSize = 0;
    const char* failWith = nullptr;
    mutable std::vector<std::string> rotations;
};

// Makes no folder; for logs whose file is a fake.
struct NoFolders : posix::file::CreateFolder {
    void create(const std::string&, bool) const override {}
};

class RecordingWriteDump : public posix::debug::WriteDump {
public:
    void write(const std::string& path) const override {
        paths.push_back(path);
        if (failWith != nullptr) throw posix::debug::WriteDumpException(failWith);
    }

    const char* failWith = nullptr;
    mutable std::vector<std::string> paths;
};

// Tells the free memory it was given; with none given, tells nothing and throws.
struct FixedMemoryStatus : platform::memory::MemoryStatus {
    explicit FixedMemoryStatus(std::uint64_t free) : free(free) {}
    std::uint64_t available() const override {
        return free > 0 ? free : throw platform::memory::MemoryStatusException("no figures");
    }
    std::uint64_t total() const override { return free * 2; }
    std::uint64_t free;
};

const std::string TimePattern =
    "(?:Sun|Mon|Tue|Wed|Thu|Fri|Sat) (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    "[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";

// What follows the line header of `level` for the calling thread at the start of `text`.
std::string afterHeader(const std::string& text, const std::string& level) {
    const std::regex header(TimePattern + " \\[" + level + "\\] \\[ThreadId: " +
                            std::to_string(platform::thread::currentThreadId()) + "\\]");
    std::smatch match;
    const bool found =
        std::regex_search(text, match, header, std::regex_constants::match_continuous);
    return found ? match.suffix().str() : "no " + level + " header: " + text;
}

class LogImplTest : public ::testing::Test {
protected:
    LogImplTest() { _log.setFileOutput(true); }

    // Runs `write` and returns what it printed to standard output.
    std::string console(const std::function<void()>& write) {
        ::testing::internal::CaptureStdout();
        write();
        return ::testing::internal::GetCapturedStdout();
    }

    io::filesystem::test::TempFolder _dumps;
    const fs::path _folder = _dumps.path("");
    RecordingSaveFile _file;
    RecordingRotateFile _rotate;
    RecordingWriteDump _dump;
    FixedMemoryStatus _memory{1234567890};
    Metrics _metrics;
    const posix::file::CreateFolderImpl _createFolder;
    const NoFolders _noFolders;
    LogImpl _log{&_file,   &_rotate,  &_noFolders,       &_dump,
                 &_memory, &_metrics, "/var/qm/log.txt", _folder.string()};
};

// Each level's line: a one-line message follows the header after one space, any other (and
// every error) stands below its header; free memory in whole megabytes of a million bytes. The
// console gets what the file gets, unless one of them is switched off.
TEST_F(LogImplTest, LinesOfEachLevelShapeAndOutput) {
    const struct {
        const char* level;
        const char* text;
        std::string body;
        bool file, console, memory = false;
    } cases[] = {
        {"Log", "Starting server on port 8080.", " Starting server on port 8080.\n", true, true},
        {"Log", "Using config settings:\n<config/>", "\nUsing config settings:\n<config/>\n", true,
         true},
        {"Test", "3 tests passed!", " 3 tests passed!\n", true, true},
        {"Error", "Failed using 'recv'.", "\nFailed using 'recv'.\n\n", true, true},
        {"Log", "x", " [Free: 1234MB] x\n", true, true, true},
        {"Log", "console", " console\n", false, true},
        {"Error", "file", "\nfile\n\n", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        _file.content.clear();
        _log.setFileOutput(c.file);
        _log.setConsoleOutput(c.console);
        _log.setLogMemory(c.memory);
        const std::string level = c.level;
        const std::string printed = console([&] {
            level == "Log"    ? _log.log(c.text)
            : level == "Test" ? _log.test(c.text)
                              : _log.error(c.text);
        });
        EXPECT_EQ(c.file ? c.body : "",
                  c.file ? afterHeader(_file.content, c.level) : _file.content);
        EXPECT_EQ(c.console ? c.body : "", c.console ? afterHeader(printed, c.level) : printed);
    }

    // Each level keeps its own lines and those above it; a filtered assertion writes no dump.
    _log.setFileOutput(true);
    for (const auto& [level, kept] : {std::pair{"log", "Log Error Failure Test "},
                                      {"ERROR", "Error Failure Test "},
                                      {"Failure", "Failure Test "},
                                      {"test", "Test "}}) {
        _file.content.clear();
        _log.setLevel(logLevelFromText(level));
        _log.log("a");
        _log.error("b");
        _log.assertionFailed("c", "d", "e", 1);
        _log.test("f");
        std::string found;
        for (const std::string name : {"Log", "Error", "Failure", "Test"}) {
            if (_file.content.find("[" + name + "]") != std::string::npos) found += name + " ";
        }
        EXPECT_EQ(kept, found) << level;
    }
    EXPECT_EQ(3u, _dump.paths.size());
    EXPECT_THROW(_log.setLevel(4), LogLevelException);
}

// The size is asked of the file once, then counted from the lines written, and asked again
// after a reopen request; a file that is still empty takes any line whole. A failed write or
// rotation is reported on the console copy; after a failed rotation the line is still written.
TEST_F(LogImplTest, FileIsRotatedBeforeALineWouldPassTheLimit) {
    _log.setConsoleOutput(false);
    _log.log("m");
    const std::uint64_t line = _file.content.size();
    _rotate.fileSize = line;
    _log.setFileRotation(3 * line, 2);
    std::vector<std::size_t> rotations;
    for (int n = 0; n < 6; ++n) {
        _log.log("m");
        rotations.push_back(_rotate.rotations.size());
    }
    EXPECT_EQ((std::vector<std::size_t>{0, 0, 1, 1, 1, 2}), rotations);
    EXPECT_EQ("/var/qm/log.txt 2", _rotate.rotations.back());
    EXPECT_EQ(3, _file.opened);  // the file stays open between rotations
    // Moved away and refilled behind the log's back: only the reopen request makes it look.
    _rotate.fileSize = 3 * line;
    _log.requestReopen();
    _log.log("m");
    EXPECT_EQ(3u, _rotate.rotations.size());
    _log.setFileRotation(1, 0);
    _rotate.fileSize = 0;
    _log.requestReopen();
    _log.log("m");
    EXPECT_EQ(3u, _rotate.rotations.size());
    _log.log("m");
    EXPECT_EQ("/var/qm/log.txt 0", _rotate.rotations.back());
    EXPECT_EQ(6, _file.opened);  // and is opened again after each reopen request
    // Removed and begun again by the open file itself: the count starts from what it holds.
    _log.setFileRotation(3 * line, 0);
    _log.log("m");
    _file.recreated = true;
    _log.log("m");
    _rotate.fileSize = line;
    _log.log("m");
    EXPECT_EQ(4u, _rotate.rotations.size());
    _log.setFileRotation(1, 0);

    _log.setConsoleOutput(true);
    _file.content.clear();
    _rotate.failWith = "Could not move the file.";
    _rotate.fileSize = 1;
    _log.requestReopen();
    EXPECT_EQ(" hello\nError when rotating the log file: Could not move the file.\n",
              afterHeader(console([&] { _log.log("hello"); }), "Log"));
    EXPECT_EQ(" hello\n", afterHeader(_file.content, "Log"));
    _rotate.failWith = nullptr;
    _file.failWith = "Could not open the file.";
    EXPECT_EQ(" hello\nError when logging: Could not open the file.\n",
              afterHeader(console([&] { _log.log("hello"); }), "Log"));
    _file.failWith = nullptr;
    _file.content.clear();
    _log.log("again");
    EXPECT_EQ(" again\n", afterHeader(_file.content, "Log"));
}

// journald reads a line's priority from its start; the file keeps its format.
TEST_F(LogImplTest, UnderJournaldEachConsoleLineStartsWithItsPriority) {
    _log.setJournalPrefixes(true);
    const std::string printed = console([&] {
        _log.log("one");
        _log.error("two\nlines");
        _log.assertionFailed("e", "d", "f", 3);
        _log.test("three");
    });
    EXPECT_EQ(_file.content, std::regex_replace(printed, std::regex("(^|\n)<[236]>"), "$1"));
    EXPECT_FALSE(std::regex_search(printed, std::regex("(^|\n)[^<\n]"))) << printed;
    for (const char* part :
         {"\n<3>two\n<3>lines\n", "\n<2>Expression: e\n", "^<6>[^\n]+\\[Log\\][^\n]+ one\n",
          "\n<6>[^\n]+\\[Test\\][^\n]+ three\n"}) {
        EXPECT_TRUE(std::regex_search(printed, std::regex(part))) << part;
    }
}

// One crash report per kind of error and interval, none before start-up is complete; an
// assertion always leaves one, with its dump written first; a dump that fails is named. The
// oldest reports make room until both the count and the byte bound hold; other files stay.
TEST_F(LogImplTest, CrashReportsOfErrorsAndAssertions) {
    _log.setConsoleOutput(false);
    _log.error("before start-up");
    EXPECT_TRUE(_dump.paths.empty());
    _log.setStartupComplete(true);
    _log.error("Client 1 reset the connection.");
    _log.error("Client 2 reset the connection.");
    _log.error("Out of memory.");
    ASSERT_EQ(2u, _dump.paths.size());
    EXPECT_NE(std::string::npos,
              _file.content.find("\nClient 2 reset the connection.\nNo dump: one was written "
                                 "for this kind of error less than 10 seconds ago.\n\n"));
    EXPECT_NE(std::string::npos,
              _file.content.find("\nOut of memory.\nDump is here: " + _dump.paths[1] + "\n\n"));

    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const std::string removed =
        "Removed the old crash report " + _folder.string() + "dump_threadid_0_time_";
    for (std::size_t n = 0; n < CrashReportBudget::MaxFiles; ++n) {
        const fs::path old = _folder / ("dump_threadid_0_time_" + std::to_string(n) + ".dmp");
        std::ofstream(old) << "old";
        fs::last_write_time(old, past + std::chrono::seconds(n));
    }
    std::ofstream(_folder / "quillmark.log") << "not a report";
    fs::last_write_time(_folder / "quillmark.log", past - std::chrono::hours(1));
    _file.content.clear();
    _log.assertionFailed("Expression", static_cast<const char*>(nullptr), "Classifier.cpp", 42);
    ASSERT_EQ(3u, _dump.paths.size());
    EXPECT_EQ(
        "\nAn assertion occurred in the Quillmark server.\n"
        "This could be serious and you should contact the developer with this information.\n"
        "Expression: Expression\nDescription: \nFile: Classifier.cpp\nLine: 42\n\n"
        "Please send this information to Norvale support, support@norvale.com.\n"
        "Thank you for helping us improve our software.\n\n" +
            removed + "0.dmp.\nCrash dump here: " + _dump.paths[2] + "\n\n",
        afterHeader(_file.content, "Failure"));
    _file.content.clear();
    const fs::path huge = _folder / "dump_threadid_0_time_3.dmp";
    fs::resize_file(huge, CrashReportBudget::MaxBytes);  // sparse: costs no disk
    fs::last_write_time(huge, past + std::chrono::seconds(3));
    _dump.failWith = "no room";
    _log.assertionFailed(std::string("a < b"), std::string("Classifier failure: bad"),
                         std::string("f"), -1);
    for (const std::string& part :
         {std::string(
              "\nExpression: a < b\nDescription: Classifier failure: bad\nFile: f\nLine: -1\n\n"),
          "software.\n\n" + removed + "1.dmp.\n" + removed + "2.dmp.\n" + removed +
              "3.dmp.\nFailed to create crash dump (" + _dump.paths[3] + ") reason: no room\n\n"}) {
        EXPECT_NE(std::string::npos, _file.content.find(part)) << part << _file.content;
    }
    EXPECT_TRUE(CrashReportBudget::makeRoom((_folder / "missing").string()).empty());
}

// A line logged from inside a write is dropped; a failure while a line is produced is swallowed.
// Either way the guard is down again afterwards.
TEST_F(LogImplTest, NestedLinesAndFailuresWhileProducingAreDropped) {
    _file.onSave = [&] {
        _log.log("nested log");
        _log.error("nested error");
        _log.assertionFailed("nested", "x", "y", 1);
    };
    _log.log("outer");
    _file.onSave = nullptr;
    EXPECT_TRUE(_dump.paths.empty());
    _memory.free = 0;
    _log.setLogMemory(true);
    EXPECT_NO_THROW(_log.log("lost"));
    _log.setLogMemory(false);
    _log.log("found");
    for (const auto& [part, kept] :
         {std::pair{"nested", false}, {"lost", false}, {" outer\n", true}, {" found\n", true}}) {
        EXPECT_EQ(kept, _file.content.find(part) != std::string::npos) << part;
    }
}

// A log folder removed with its file while the server runs is made again with the file once the
// removal is noticed (within a second; the line that notices it goes with the removed file).
TEST_F(LogImplTest, ARemovedLogFolderIsMadeAgain) {
    const io::filesystem::SaveFileImpl saveFile;
    const fs::path folder = _folder / "logs";
    fs::create_directory(folder);
    LogImpl log(&saveFile, &_rotate, &_createFolder, &_dump, &_memory, &_metrics,
                (folder / "log.txt").string(), folder.string());
    log.setFileOutput(true);
    log.log("first");
    fs::remove_all(folder);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    log.log("noticed");
    log.log("again");
    EXPECT_NE(std::string::npos, _dumps.read(folder / "log.txt").find("] again\n"));
}

constexpr int Threads = 16, LinesPerThread = 200;
constexpr std::uint64_t RotationBytes = 8 * 1024;

// Each line carries its writer, its number and a long body; any interleaving in the file or on
// the console breaks the expected shape of some line. While they write, the log file is rotated
// by size, and, from the first rotation on, a second thread plays logrotate: it moves the file
// away and sends SIGHUP. Every line printed must be in exactly one file, and no file may pass
// the rotation size.
TEST_F(LogImplTest, SixteenWritersLoseNoLineWhileTheFileIsRotated) {
    const fs::path& folder = _folder;
    io::filesystem::SaveFileImpl saveFile;
    io::filesystem::RotateFileImpl rotateFile;
    const std::string path = (folder / "log.txt").string();
    LogImpl log(&saveFile, &rotateFile, &_createFolder, &_dump, &_memory, &_metrics, path,
                folder.string());
    log.setFileOutput(true);
    log.setLogMemory(true);
    log.setFileRotation(RotationBytes, 1000);  // enough copies that none is dropped
    posix::signals::HangUpSignal hangUp(&log);

    ::testing::internal::CaptureStdout();
    std::atomic<bool> writing{true};
    std::thread logrotate([&] {
        while (writing && !fs::exists(path + ".1"))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int moved = 0; writing; ++moved) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::error_code missing;
            fs::rename(path, folder / ("moved-" + std::to_string(moved)), missing);
            ::kill(::getpid(), SIGHUP);
        }
    });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < Threads; ++writer) {
        writers.emplace_back([&log, writer] {
            const std::string body(100 + writer * 7, static_cast<char>('a' + writer));
            for (int n = 0; n < LinesPerThread; ++n) {
                const std::string message =
                    "w" + std::to_string(writer) + " n" + std::to_string(n) + " " + body;
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
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string content = _dumps.read(entry.path());
        EXPECT_LE(content.size(), RotationBytes) << entry.path();
        rotated += entry.path().filename().string().rfind("log.txt.", 0) == 0 ? 1 : 0;
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);) ++written[line];
    }
    EXPECT_GT(rotated, 0);

    const std::regex shape(
        TimePattern +
        " \\[(Log|Test)\\] \\[ThreadId: [0-9]+\\] \\[Free: 1234MB\\] w([0-9]+) n([0-9]+) ([a-p]+)");
    std::istringstream lines(printed);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int writer = std::stoi(match[2]);
        EXPECT_EQ(std::string(100 + writer * 7, static_cast<char>('a' + writer)), match[4].str());
        EXPECT_EQ(1, written[line]--) << line;
    }
    EXPECT_EQ(Threads * LinesPerThread, count);
    for (const auto& [text, left] : written) EXPECT_EQ(0, left) << "not printed: " << text;
}

}  // namespace
