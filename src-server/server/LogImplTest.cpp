#include "server/LogImpl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "platform/PlatformTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "posix/debug/WriteDumpImpl.h"
#include "server/LogLevel.h"
#include "server/LogTestSupport.h"
#include "server/QuillmarkThreadLog.h"
#include "server/ServerLog.h"

namespace {

namespace fs = std::filesystem;
using namespace norvale::quillmark;
using namespace norvale::quillmark::testing;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

bool matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

class LogImplTest : public ::testing::Test {
protected:
    LogImplTest() { _log.setFileOutput(true); }

    // Runs `write` and returns what it printed to standard output.
    template <class Write>
    std::string console(Write write) {
        CaptureStdout();
        write();
        return GetCapturedStdout();
    }

    RecordingSaveFile _file;
    RecordingRotateFile _rotate;
    RecordingWriteDump _dump;
    FixedMemoryStatus _memory{1234567890};
    Metrics _metrics;
    LogImpl _log{&_file,    &_rotate,          &_dump, &_memory,
                 &_metrics, "/var/qm/log.txt", "/var/qm/dumps/"};
};

// Each level's line: a one-line message follows the header after one space, any other (and
// every error) stands below its header; free memory in whole megabytes of a million bytes.
TEST_F(LogImplTest, LinesOfEachLevelAndShape) {
    struct Case {
        const char* name;
        std::function<void()> write;
        std::string expected;  // a pattern
    };
    const Case cases[] = {
        {"one line", [&] { _log.log("Starting server on port 8080."); },
         headerPattern("Log") + " Starting server on port 8080\\.\n"},
        {"two lines", [&] { _log.log("Using config settings:\n<config/>"); },
         headerPattern("Log") + "\nUsing config settings:\n<config/>\n"},
        {"test", [&] { _log.test("3 tests passed!"); }, headerPattern("Test") + " 3 tests passed!\n"},
        {"error", [&] { _log.error("Failed using 'recv'."); },
         headerPattern("Error") + "\nFailed using 'recv'\\.\n\n"},
        {"memory", [&] { _log.setLogMemory(true); _log.log("x"); _log.setLogMemory(false); },
         headerPattern("Log") + " \\[Free: 1234MB\\] x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        _file.content.clear();
        const std::string printed = console(c.write);
        EXPECT_TRUE(matches(_file.content, c.expected)) << _file.content;
        EXPECT_EQ(_file.content, printed);
    }
    EXPECT_EQ(" [Log] [ThreadId: ", _file.content.substr(24, 18));
    EXPECT_EQ("/var/qm/log.txt", _file.paths.back());
    EXPECT_EQ(io::filesystem::SaveMode::Append, _file.modes.back());
    EXPECT_TRUE(_dump.paths.empty());
}

// Each level keeps its own lines and those of the levels above it; a filtered assertion writes
// no dump.
TEST_F(LogImplTest, LevelsDropTheLinesBelowThem) {
    const std::pair<int, const char*> cases[] = {
        {logLevelFromText("log"), "Log Error Failure Test "},
        {logLevelFromText("ERROR"), "Error Failure Test "},
        {logLevelFromText("Failure"), "Failure Test "},
        {logLevelFromText("test"), "Test "},
    };
    for (const auto& [level, kept] : cases) {
        _file.content.clear();
        _log.setLevel(level);
        _log.log("a");
        _log.error("b");
        _log.assertionFailed("c", "d", "e", 1);
        _log.test("f");
        std::string found;
        for (const char* name : {"Log", "Error", "Failure", "Test"}) {
            if (_file.content.find(std::string("[") + name + "]") != std::string::npos) {
                found += std::string(name) + " ";
            }
        }
        EXPECT_EQ(kept, found) << level;
    }
    EXPECT_EQ(3u, _dump.paths.size());
    EXPECT_THROW(_log.setLevel(4), LogLevelException);
}

TEST_F(LogImplTest, OutputSwitches) {
    _log.setFileOutput(false);
    EXPECT_TRUE(matches(console([&] { _log.log("console only"); }),
                        headerPattern("Log") + " console only\n"));
    EXPECT_TRUE(_file.content.empty());

    _log.setConsoleOutput(false);
    _log.setFileOutput(true);
    EXPECT_EQ("", console([&] { _log.error("file only"); }));
    EXPECT_NE(std::string::npos, _file.content.find("file only"));

    // With both off log, error and assertion are skipped, but test still runs.
    _log.setFileOutput(false);
    _file.onSave = [] { FAIL() << "nothing may be written"; };
    EXPECT_EQ("", console([&] {
                  _log.log("a");
                  _log.error("b");
                  _log.test("c");
              }));
}

// A failed write is reported on the console copy only; after a failed rotation the line is
// still written.
TEST_F(LogImplTest, FailedWriteOrRotationIsReportedOnTheConsole) {
    _file.failWith = "Could not open the file.";
    EXPECT_TRUE(matches(console([&] { _log.log("hello"); }),
                        headerPattern("Log") +
                            " hello\nError when logging: Could not open the file\\.\n"));
    EXPECT_TRUE(_file.content.empty());

    _file.failWith = nullptr;
    _rotate.failWith = "Could not move the file.";
    _rotate.fileSize = 1;
    _log.setFileRotation(1, 8);
    _log.requestReopen();
    EXPECT_TRUE(matches(console([&] { _log.log("hello"); }),
                        headerPattern("Log") + " hello\nError when rotating the log file: Could not "
                                               "move the file\\.\n"));
    EXPECT_TRUE(matches(_file.content, headerPattern("Log") + " hello\n")) << _file.content;
}

// The size is asked of the file once, then counted from the lines written, and asked again
// after a reopen request; a file that is still empty takes any line whole.
TEST_F(LogImplTest, FileIsRotatedBeforeALineWouldPassTheLimit) {
    _log.setConsoleOutput(false);
    _log.setFileRotation(0, 2);
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
    EXPECT_EQ(7 * line, _file.content.size());

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
    EXPECT_EQ(std::string::npos, _file.content.find('<')) << _file.content;
    const std::pair<const char*, const char*> priorities[] = {{" [Log] [ThreadId: ", "<6>"},
                                                              {" [Error] [ThreadId: ", "<3>"},
                                                              {" [Failure] [ThreadId: ", "<2>"},
                                                              {" [Test] [ThreadId: ", "<6>"}};
    std::istringstream lines(_file.content);
    std::string expected, line, priority;
    while (std::getline(lines, line)) {
        for (const auto& [level, prefix] : priorities) {
            if (line.find(level) == 24) priority = prefix;
        }
        expected += priority + line + "\n";
    }
    EXPECT_EQ(expected, printed);
    EXPECT_EQ(0u, printed.find("<6>"));
    EXPECT_NE(std::string::npos, printed.find("\n<3>two\n<3>lines\n"));
    EXPECT_NE(std::string::npos, printed.find("\n<2>Expression: e\n"));
}

// No crash report before start-up is complete (an assertion leaves one all the same).
TEST_F(LogImplTest, OneCrashReportPerKindOfErrorWithinTheInterval) {
    _log.setConsoleOutput(false);
    _log.error("before start-up");
    EXPECT_TRUE(_dump.paths.empty());
    _log.setStartupComplete(true);
    _log.error("Client 1 reset the connection.");
    _log.error("Client 2 reset the connection.");  // the same kind: no second report
    _log.error("Out of memory.");
    _log.assertionFailed("x", "d", "f", 1);  // failed assertions always leave one
    EXPECT_EQ(3u, _dump.paths.size());
    EXPECT_NE(std::string::npos,
              _file.content.find("\nClient 2 reset the connection.\nNo dump: one was written "
                                 "for this kind of error less than 10 seconds ago.\n\n"))
        << _file.content;
}

// The whole assertion text, with the dump written first even before start-up is complete.
TEST_F(LogImplTest, AssertionTextAndCrashDump) {
    const char* nullDescription = nullptr;
    _log.assertionFailed("Expression", nullDescription, "Classifier.cpp", 42);
    ASSERT_EQ(1u, _dump.paths.size());
    const std::string expected =
        "\nAn assertion occurred in the Quillmark server.\n"
        "This could be serious and you should contact the developer with this information.\n"
        "Expression: Expression\nDescription: \nFile: Classifier.cpp\nLine: 42\n\n"
        "Please send this information to Norvale support, support@norvale.com.\n"
        "Thank you for helping us improve our software.\n\n"
        "Crash dump here: " +
        _dump.paths[0] + "\n\n";
    EXPECT_TRUE(matches(_file.content, headerPattern("Failure") + escapeRegex(expected)))
        << _file.content;

    _file.content.clear();
    _dump.failWith = "Couldn't create a file to write a dump file to with name x.";
    _log.assertionFailed(std::string("a < b"), std::string("Classifier failure: bad"),
                         std::string("f"), -1);
    EXPECT_NE(std::string::npos, _file.content.find("Description: Classifier failure: bad\n"));
    EXPECT_NE(std::string::npos, _file.content.find("Line: -1\n"));
    EXPECT_NE(std::string::npos,
              _file.content.find("Failed to create crash dump (" + _dump.paths[1] +
                                 ") reason: Couldn't create a file to write a dump file to with "
                                 "name x.\n\n"))
        << _file.content;
}

TEST(LogImplDumpTest, RealDumpFileLandsInTheDumpFolder) {
    platform::testing::TempFolder folder;
    RecordingSaveFile file;
    RecordingRotateFile rotate;
    posix::debug::WriteDumpImpl dump;
    FixedMemoryStatus memory(0);
    Metrics metrics;
    LogImpl log(&file, &rotate, &dump, &memory, &metrics, "unused", folder.path().string() + "/");
    log.setFileOutput(true);
    log.setConsoleOutput(false);
    log.setStartupComplete(true);
    // A folder already at its bound of reports: the oldest makes room for the new one.
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (std::size_t n = 0; n < CrashReportBudget::MaxFiles; ++n) {
        const fs::path old = folder.path() / ("dump_threadid_0_time_" + std::to_string(n) + ".dmp");
        std::ofstream(old) << "old";
        fs::last_write_time(old, past + std::chrono::seconds(n));
    }
    const fs::path oldest = folder.path() / "dump_threadid_0_time_0.dmp";
    log.error("boom");
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        if (entry.path().filename().string().rfind("dump_threadid_0_", 0) != 0) {
            dumps.push_back(entry.path());
        }
    }
    ASSERT_EQ(1u, dumps.size());
    const std::string name = dumps[0].filename().string();
    EXPECT_TRUE(matches(name, "dump_threadid_" +
                                  std::to_string(platform::thread::currentThreadId()) +
                                  "_time_[0-9]{10}\\.dmp"))
        << name;
    EXPECT_FALSE(fs::exists(oldest));
    EXPECT_EQ(CrashReportBudget::MaxFiles,
              static_cast<std::size_t>(std::distance(fs::directory_iterator(folder.path()),
                                                     fs::directory_iterator{})));
    EXPECT_NE(std::string::npos,
              file.content.find("\nboom\nRemoved the old crash report " + oldest.string() +
                                ".\nDump is here: " + dumps[0].string() + "\n"))
        << file.content;
    EXPECT_EQ(0u, platform::testing::readFile(dumps[0]).find("Crash report\n"));
}

// A file service that logs from inside its save: the nested line is stopped by the guard, the
// outer line is written, and the guard is down again afterwards.
TEST_F(LogImplTest, NestedLoggingFromInsideAWriteIsDropped) {
    int nested = 0;
    _file.onSave = [&] {
        ++nested;
        _log.log("nested log");
        _log.error("nested error");
        _log.assertionFailed("nested", "x", "y", 1);
    };
    _log.log("outer");
    EXPECT_EQ(1, nested);
    EXPECT_EQ(std::string::npos, _file.content.find("nested"));
    EXPECT_TRUE(_dump.paths.empty());
    _file.onSave = nullptr;
    _log.log("later");
    EXPECT_NE(std::string::npos, _file.content.find(" later\n"));
}

// A failure while the line is produced is swallowed and leaves the guard down.
TEST_F(LogImplTest, FailureWhileProducingIsSwallowedAndTheGuardReset) {
    class ThrowingMemoryStatus : public platform::memory::MemoryStatus {
    public:
        std::uint64_t available() const override {
            throw platform::memory::MemoryStatusException("no figures");
        }
        std::uint64_t total() const override { return 0; }
    } memory;
    Metrics metrics;
    LogImpl log(&_file, &_rotate, &_dump, &memory, &metrics, "p", "d/");
    log.setFileOutput(true);
    log.setLogMemory(true);
    EXPECT_NO_THROW(log.log("lost"));
    EXPECT_TRUE(_file.content.empty());
    log.setLogMemory(false);
    log.log("found");
    EXPECT_NE(std::string::npos, _file.content.find(" found\n"));
}

}  // namespace
