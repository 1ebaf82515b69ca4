// The file services the server is given besides saving (SaveFileImplTest): existence, loading,
// size, removal and the rotation of numbered copies.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "io/filesystem/ExistsDirImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "testing/MessageOf.h"

namespace {

using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;
using norvale::quillmark::testing::messageOf;

// "loop" is a symbolic link to itself: examining it fails with ELOOP although something is there.
// A sparse file of 2^31 bytes costs no disk space: its first bytes can be read, the whole is too
// big. The size of a file that must exist fails like a load; one that need not counts as empty.
// Removing a missing file is accepted; removing a folder is refused and leaves it.
TEST(FileServicesTest, ExistenceLoadSizeAndRemovalNameEveryFailure) {
    TempFolder folder;
    const std::string bytes("\0\x01payload\xFF", 10), dir = folder.path("");
    const std::string path = folder.write("c.dat", bytes), huge = folder.write("huge.dat", "");
    const std::string loop = folder.path("loop"), missing = folder.path("missing.dat");
    ASSERT_EQ(0, ::symlink(loop.c_str(), loop.c_str()));
    const io::filesystem::ExistsFileImpl existsFile;
    const io::filesystem::ExistsDirImpl existsDir;
    // path, is a file, is a folder
    for (const auto& [name, isFile, isDir] : std::vector<std::tuple<std::string, bool, bool>>{
             {path, true, false},
             {dir, false, true},
             {folder.path("missing/x.dat"), false, false},
             {path + "/x.dat", false, false},
             {"", false, false},
             {std::string(5000, 'n'), false, false}}) {
        EXPECT_EQ(isFile, existsFile.exists(name)) << name;
        EXPECT_EQ(isDir, existsDir.exists(name)) << name;
    }
    EXPECT_TRUE(existsFile.exists(loop));  // cannot be examined, so it counts as present
    EXPECT_THROW(existsDir.exists(loop), io::filesystem::ExistsDirException);

    const io::filesystem::LoadFileImpl load;
    const io::filesystem::SizeFileImpl size;
    const io::filesystem::RemoveFileImpl removeFile;
    EXPECT_EQ(bytes, load.load(path, 0));
    EXPECT_EQ(bytes.substr(0, 3), load.load(path, 3));
    EXPECT_EQ("", load.load(folder.write("empty.dat", ""), 0));
    ASSERT_EQ(0, ::truncate(huge.c_str(), 2147483648LL));
    EXPECT_EQ(std::string(16, '\0'), load.load(huge, 16));
    const std::string success = "System error message: Success. Error code: 0.";
    const std::string noEntry = "System error message: No such file or directory. Error code: 2.";
    const std::string isDirectory = "System error message: Is a directory. Error code: 21.";
    const std::vector<std::pair<std::function<void()>, std::string>> failures = {
        {[&] { load.load(missing, 0); },
         "An error occurred when trying to open the file for reading." +
             expectedTail(missing, noEntry)},
        {[&] { load.load(path, 11); },
         "Tried to read a larger number of bytes from a file that it contained. Tried to read : 11 "
         "File size: 10" +
             expectedTail(path, success)},
        {[&] { load.load(huge, 0); },
         "Could not load the file because the file size was too big. The file size is 2147483648. "
         "The file cannot be bigger than 2147483647 bytes." +
             expectedTail(huge, success)},
        {[&] { size.size(missing, true); }, "Failed to open '" + missing +
                                                "' while getting file size.\n" + noEntry +
                                                expectedTail(missing, noEntry)},
        {[&] { size.size(dir, true); }, "Failed to open '" + dir + "' while getting file size.\n" +
                                            isDirectory + expectedTail(dir, isDirectory)},
        {[&] { removeFile.remove(dir); }, "Couldn't delete the file '" + dir +
                                              "' file using the 'DeleteFile' system call.\n" +
                                              isDirectory},
    };
    for (const auto& [call, message] : failures) {
        EXPECT_EQ(message, messageOf<io::IOException>(call));
    }
    EXPECT_EQ(0u, size.size(missing, false));
    ASSERT_EQ(0, ::truncate(huge.c_str(), 5000000000LL));
    EXPECT_EQ(5000000000u, size.size(huge, true));
    EXPECT_TRUE(existsDir.exists(dir));
    removeFile.remove(path);
    removeFile.remove(path);
    EXPECT_FALSE(existsFile.exists(path));
}

// The last row: a copy that cannot be dropped (a folder that is not empty) stops the rotation.
TEST(FileServicesTest, RotationShiftsTheNumberedCopiesAndDropsTheOldest) {
    using Files = std::map<std::string, std::string>;
    const struct {
        int keep;
        Files before, after;
    } cases[] = {
        {2,
         {{"log.txt", "new"}, {"log.txt.1", "old"}, {"log.txt.2", "oldest"}},
         {{"log.txt.1", "new"}, {"log.txt.2", "old"}}},
        {3,
         {{"log.txt", "new"}, {"log.txt.2", "older"}},
         {{"log.txt.1", "new"}, {"log.txt.3", "older"}}},
        {1,
         {{"log.txt", "new"}, {"log.txt.1", "old"}, {"log.txt.5", "stray"}},
         {{"log.txt.1", "new"}, {"log.txt.5", "stray"}}},
        {0, {{"log.txt", "new"}, {"log.txt.1", "old"}}, {{"log.txt.1", "old"}}},
        {2, {{"log.txt.1", "old"}}, {{"log.txt.2", "old"}}},
        {1,
         {{"log.txt", "new"}, {"log.txt.1/inside", "x"}},
         {{"log.txt", "new"}, {"log.txt.1", "(folder)"}}},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        for (const auto& [name, content] : c.before) folder.write(name, content);
        bool failed = false;
        try {
            io::filesystem::RotateFileImpl().rotate(folder.path("log.txt"), c.keep);
        } catch (const io::IOException&) {
            failed = true;
        }
        Files found;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path(""))) {
            found[entry.path().filename().string()] =
                entry.is_directory() ? "(folder)" : TempFolder::read(entry.path().string());
        }
        EXPECT_EQ(c.after.count("log.txt") == 1, failed) << "keep " << c.keep;
        EXPECT_EQ(c.after, found) << "keep " << c.keep;
    }
}

}  // namespace
