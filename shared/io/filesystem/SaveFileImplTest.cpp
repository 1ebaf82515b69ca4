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

#include "io/filesystem/TempFolder.h"
#include "io/filesystem/TemporarySaveName.h"
#include "testing/MessageOf.h"

namespace {

using io::filesystem::TemporarySaveName;
using SaveError = io::filesystem::SaveFileExceptionImpl;
using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;
using norvale::quillmark::testing::messageOf;

// Replacing keeps the file's mode and leaves no other file; appending adds. A file that cannot be
// opened is named with the system error, whichever way it is written; a size beyond 2^31 - 1
// leaves no file.
TEST(SaveFileImplTest, ReplaceWritesTheWholeFileAppendAddsAndFailuresNameThePath) {
    TempFolder folder;
    const io::filesystem::SaveFileImpl save;
    const std::string path = folder.path("spam.dat");
    save.save(path, "first content");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    save.save(path, std::string("s\0b", 3));
    EXPECT_EQ(std::string("s\0b", 3), TempFolder::read(path));
    EXPECT_EQ(std::filesystem::perms(0640), std::filesystem::status(path).permissions());
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(folder.path("")), {}));
    // An open log file: a removed one is created again (looked at once a second), a moved one
    // keeps its appends.
    const std::string log = folder.path("log.txt");
    const auto appendFile = save.openAppend(log);
    EXPECT_FALSE(appendFile->append("line 1\n"));
    appendFile->append("line 2\n");
    EXPECT_EQ("line 1\nline 2\n", TempFolder::read(log));
    ASSERT_EQ(0, ::unlink(log.c_str()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(appendFile->append("line 3\n"));
    EXPECT_EQ("line 3\n", TempFolder::read(log));
    ASSERT_EQ(0, ::rename(log.c_str(), (log + ".1").c_str()));
    EXPECT_FALSE(appendFile->append("line 4\n"));
    EXPECT_EQ("line 3\nline 4\n", TempFolder::read(log + ".1"));

    // The bytes beyond 2^31 - 1 are address space only, never touched: the size is refused first.
    const std::size_t size = 2147483648u;
    void* reserved =
        ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, reserved);
    const std::string belowFile = folder.write("plain", "x") + "/c.dat";
    const std::string big = folder.path("big.dat");
    const std::string notOpened =
        "An error occurred when trying to open the file for writing." +
        expectedTail(belowFile, "System error message: Not a directory. Error code: 20.");
    EXPECT_EQ(notOpened, messageOf<SaveError>([&] { save.save(belowFile, "data"); }));
    EXPECT_EQ(notOpened, messageOf<SaveError>([&] { save.openAppend(belowFile)->append("data"); }));
    EXPECT_EQ(notOpened, messageOf<SaveError>([&] { save.openInPlace(belowFile); }));
    EXPECT_EQ(
        "Could not save the file because the data size was too big. The data size is "
        "2147483648. The data cannot be bigger than 2147483647 bytes." +
            expectedTail(big, "System error message: Success. Error code: 0."),
        messageOf<SaveError>([&] {
            save.save(big, {static_cast<const char*>(reserved), size});
        }));
    ::munmap(reserved, size);
    EXPECT_FALSE(std::filesystem::exists(big));
}

// Writes in place go where their owner says; the file grows 64 KiB of zeros at a time, and only
// when a write passes its end, so that syncs of writes inside it leave the length alone. A cut
// drops the zeros ahead too, and the next write past the end writes them again.
TEST(SaveFileImplTest, InPlaceWritesKeepZerosAheadOfTheContent) {
    TempFolder folder;
    const io::filesystem::SaveFileImpl save;
    const std::string path = folder.write("a.journal", "head");
    const auto file = save.openInPlace(path);
    const auto expect = [&](const std::string& content, std::size_t length) {
        const std::string bytes = TempFolder::read(path);
        EXPECT_EQ(length, bytes.size());
        EXPECT_EQ(content, bytes.substr(0, content.size()));
        EXPECT_EQ(std::string::npos, bytes.find_first_not_of('\0', content.size()));
    };
    file->write(4, "one");
    file->sync();
    expect("headone", 65536);
    file->write(7, "two");
    expect("headonetwo", 65536);
    const std::string long_(65530, 'x');
    file->write(10, long_);
    expect("headonetwo" + long_, 131072);
    file->truncate(7);
    expect("headone", 7);
    file->write(7, "three");
    expect("headonethree", 65536);
    // Opened again, the file's length is where the zeros end.
    save.openInPlace(path)->write(12, "four");
    expect("headonethreefour", 65536);
}

// A child process replaces the file over and over, alternating two contents of different sizes;
// it is killed at a random moment. The file must then hold exactly one of the two contents.
TEST(SaveFileImplTest, KilledWriterLeavesTheOldOrTheNewContent) {
    TempFolder folder;
    const io::filesystem::SaveFileImpl save;
    const std::string path = folder.path("classifier.dat");
    const std::string oldContent(6 * 1024 * 1024, 'o'), newContent(2 * 1024 * 1024 + 7, 'n');
    save.save(path, oldContent);

    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 10; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        while (child == 0) {
            save.save(path, newContent);
            save.save(path, oldContent);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
        int status = 0;
        ASSERT_TRUE(::kill(child, SIGKILL) == 0 && ::waitpid(child, &status, 0) == child &&
                    WIFSIGNALED(status));
        const std::string content = TempFolder::read(path);
        ASSERT_TRUE(content == oldContent || content == newContent)
            << "round " << round << ": " << content.size() << " bytes";
    }
    // A later save still works beside the temporary files the killed writers left behind.
    save.save(path, "after");
    EXPECT_EQ("after", TempFolder::read(path));
}

// The temporary name of a save names the saving process (read back in LeftoverSaveFilesTest);
// look-alikes name nobody, so no cleaner signals or waits for a process they seem to name.
TEST(TemporarySaveNameTest, LookAlikesNameNoOwner) {
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
