#include "io/filesystem/SaveFileImpl.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "io/filesystem/TemporarySaveName.h"
#include "testing/MessageOf.h"

namespace {

using io::filesystem::SaveMode;
using io::filesystem::TemporarySaveName;
using io::filesystem::test::TempFolder;
using io::filesystem::test::expectedTail;

class SaveFileImplTest : public testing::Test {
protected:
    TempFolder _folder;
    const io::filesystem::SaveFileImpl _save;
};

// Replace keeps the file's mode and leaves no other file; append adds. A failure names the path
// and the system error, in both modes; a size beyond 2^31 - 1 is refused before any byte is read
// (the bytes are address space only, never touched) and leaves no file.
TEST_F(SaveFileImplTest, ReplaceWritesTheWholeFileAppendAddsAndFailuresNameThePath) {
    const std::string path = _folder.path("spam.dat");
    _save.save(path, "first content", SaveMode::Replace);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    _save.save(path, std::string("s\0b", 3), SaveMode::Replace);
    EXPECT_EQ(std::string("s\0b", 3), TempFolder::read(path));
    struct stat status {};
    ASSERT_EQ(0, ::stat(path.c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 07777);
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(_folder.path("")), {}));
    const std::string log = _folder.path("log.txt");
    _save.save(log, "line 1\n", SaveMode::Append);
    _save.save(log, "line 2\n", SaveMode::Append);
    EXPECT_EQ("line 1\nline 2\n", TempFolder::read(log));

    const std::string belowFile = _folder.write("plain", "x") + "/c.dat";
    const std::size_t size = 2147483648u;
    void* reserved =
        ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, reserved);
    const std::string big = _folder.path("big.dat");
    const struct {
        std::string path;
        std::string_view bytes;
        std::string message;
    } cases[] = {
        {belowFile, "data",
         "An error occurred when trying to open the file for writing." +
             expectedTail(belowFile, "System error message: Not a directory. Error code: 20.")},
        {big, std::string_view(static_cast<const char*>(reserved), size),
         "Could not save the file because the data size was too big. The data size is "
         "2147483648. The data cannot be bigger than 2147483647 bytes." +
             expectedTail(big, "System error message: Success. Error code: 0.")},
    };
    for (const auto& c : cases) {
        for (const SaveMode mode : {SaveMode::Replace, SaveMode::Append}) {
            EXPECT_EQ(c.message, norvale::quillmark::testing::messageOf<io::filesystem::SaveFileExceptionImpl>(
                                     [&] { _save.save(c.path, c.bytes, mode); }));
        }
    }
    ::munmap(reserved, size);
    EXPECT_FALSE(std::filesystem::exists(big));
}

// A child process replaces the file over and over, alternating two contents of different sizes;
// it is killed at a random moment. The file must then hold exactly one of the two contents.
TEST_F(SaveFileImplTest, KilledWriterLeavesTheOldOrTheNewContent) {
    const std::string path = _folder.path("classifier.dat");
    const std::string oldContent(6 * 1024 * 1024, 'o');
    const std::string newContent(2 * 1024 * 1024 + 7, 'n');
    _save.save(path, oldContent, SaveMode::Replace);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMicroseconds(0, 60000);
    int sawNew = 0;
    for (int round = 0; round < 10; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                _save.save(path, newContent, SaveMode::Replace);
                _save.save(path, oldContent, SaveMode::Replace);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ASSERT_EQ(0, ::kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string content = TempFolder::read(path);
        ASSERT_TRUE(content == oldContent || content == newContent)
            << "round " << round << ": " << content.size() << " bytes";
        sawNew += content == newContent ? 1 : 0;
    }
    // A later save still works beside the temporary files the killed writers left behind.
    _save.save(path, "after", SaveMode::Replace);
    EXPECT_EQ("after", TempFolder::read(path));
    RecordProperty("roundsEndingWithNewContent", sawNew);
}

// The temporary name of a save names the saving process; look-alikes name nobody.
TEST(TemporarySaveNameTest, OwnerReadsBackWhatMakeWrote) {
    EXPECT_EQ("/root/spam.dat.tmp-4321-7", TemporarySaveName::make("/root/spam.dat", 4321, 7));
    EXPECT_EQ(std::optional<pid_t>(4321), TemporarySaveName::owner("spam.dat.tmp-4321-7"));
    EXPECT_EQ(std::optional<pid_t>(12),
              TemporarySaveName::owner("a.tmp-3-4.tmp-12-18446744073709551615"));
    for (const char* name :
         {"a.dat", "a.tmp-12", "a.tmp-12-", "a.tmp--12-1", "a.tmp-x-1", "a.tmp-1-x", "a.tmp-1-2-3",
          "a.tmp-+1-2", "a.tmp-1-+2", "a.tmp-0-1", "a.tmp-99999999999-1", "a.tmp-1-2 ", ".tmp-12-1",
          "a.TMP-12-1", "a_tmp-12-1", "a.tmp-12-99999999999999999999"}) {
        EXPECT_EQ(std::nullopt, TemporarySaveName::owner(name)) << name;
    }
}

}  // namespace
