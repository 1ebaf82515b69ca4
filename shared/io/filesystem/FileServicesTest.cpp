// The file services the server is given besides saving (SaveFileImplTest): existence, loading,
// size, removal and the rotation of numbered copies.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
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

namespace {

using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;

// The message of the IOException `call` throws.
template <class Call>
std::string failureOf(Call call) {
    try {
        call();
    } catch (const io::IOException& e) {
        return e.what();
    }
    return "no exception";
}

// "loop" is a symbolic link to itself: examining it fails with ELOOP although something is there.
// Removing a missing file is accepted; removing a folder is refused and leaves it.
TEST(FileServicesTest, ExistenceAndRemoval) {
    TempFolder folder;
    const std::string file = folder.write("file.dat", "data");
    const std::string loop = folder.path("loop");
    ASSERT_EQ(0, ::symlink(loop.c_str(), loop.c_str()));
    const io::filesystem::ExistsFileImpl existsFile;
    const io::filesystem::ExistsDirImpl existsDir;
    // path, is a file, is a folder
    const std::vector<std::tuple<std::string, bool, bool>> cases = {
        {file, true, false},
        {folder.path(""), false, true},
        {folder.path("missing/x.dat"), false, false},
        {file + "/x.dat", false, false},
        {"", false, false},
        {std::string(5000, 'n'), false, false},
    };
    for (const auto& [path, isFile, isDir] : cases) {
        EXPECT_EQ(isFile, existsFile.exists(path)) << path;
        EXPECT_EQ(isDir, existsDir.exists(path)) << path;
    }
    EXPECT_TRUE(existsFile.exists(loop));  // cannot be examined, so it counts as present
    EXPECT_THROW(existsDir.exists(loop), io::filesystem::ExistsDirException);

    const io::filesystem::RemoveFileImpl removeFile;
    removeFile.remove(file);
    EXPECT_FALSE(existsFile.exists(file));
    removeFile.remove(file);
    removeFile.remove(folder.path("never/there.dat"));
    EXPECT_EQ("Couldn't delete the file '" + folder.path("") +
                  "' file using the 'DeleteFile' system call.\nSystem error message: Is a "
                  "directory. Error code: 21.",
              failureOf([&] { removeFile.remove(folder.path("")); }));
    EXPECT_TRUE(existsDir.exists(folder.path("")));
}

// A sparse file of 2^31 bytes costs no disk space: its first bytes can be read, the whole is too
// big. The size of a file that must exist fails like a load; one that need not counts as empty.
TEST(FileServicesTest, LoadsTheWholeFileOrItsFirstBytesAndNamesEveryFailure) {
    TempFolder folder;
    const io::filesystem::LoadFileImpl load;
    const std::string bytes("\0\x01payload\xFF", 10);
    const std::string path = folder.write("c.dat", bytes);
    EXPECT_EQ(bytes, load.load(path, 0));
    EXPECT_EQ(bytes.substr(0, 3), load.load(path, 3));
    EXPECT_EQ("", load.load(folder.write("empty.dat", ""), 0));
    const std::string huge = folder.write("huge.dat", "");
    ASSERT_EQ(0, ::truncate(huge.c_str(), 2147483648LL));
    EXPECT_EQ(std::string(16, '\0'), load.load(huge, 16));

    const std::string missing = folder.path("missing.dat");
    const std::string success = "System error message: Success. Error code: 0.";
    const std::string noEntry = "System error message: No such file or directory. Error code: 2.";
    const std::string isDirectory = "System error message: Is a directory. Error code: 21.";
    EXPECT_EQ("An error occurred when trying to open the file for reading." +
                  expectedTail(missing, noEntry),
              failureOf([&] { load.load(missing, 0); }));
    EXPECT_EQ("Tried to read a larger number of bytes from a file that it contained. Tried to "
              "read : 11 File size: 10" + expectedTail(path, success),
              failureOf([&] { load.load(path, 11); }));
    EXPECT_EQ("Could not load the file because the file size was too big. The file size is "
              "2147483648. The file cannot be bigger than 2147483647 bytes." +
                  expectedTail(huge, success),
              failureOf([&] { load.load(huge, 0); }));

    const io::filesystem::SizeFileImpl size;
    EXPECT_EQ(0u, size.size(missing, false));
    ASSERT_EQ(0, ::truncate(huge.c_str(), 5000000000LL));
    EXPECT_EQ(5000000000u, size.size(huge, true));
    for (const auto& [path, text] : {std::pair{missing, noEntry}, {folder.path(""), isDirectory}}) {
        EXPECT_EQ("Failed to open '" + path + "' while getting file size.\n" + text +
                      expectedTail(path, text),
                  failureOf([&] { size.size(path, true); }));
    }
}

// The files of the folder by name, with their content.
std::map<std::string, std::string> files(const TempFolder& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path(""))) {
        found[entry.path().filename().string()] =
            entry.is_directory() ? "(folder)" : TempFolder::read(entry.path().string());
    }
    return found;
}

// The last row: a copy that cannot be dropped (a folder that is not empty) stops the rotation.
TEST(FileServicesTest, RotationShiftsTheNumberedCopiesAndDropsTheOldest) {
    using Files = std::map<std::string, std::string>;
    const struct {
        int keep;
        Files before;
        Files after;
    } cases[] = {
        {2,
         {{"log.txt", "new"}, {"log.txt.1", "old"}, {"log.txt.2", "oldest"}},
         {{"log.txt.1", "new"}, {"log.txt.2", "old"}}},
        {3, {{"log.txt", "new"}, {"log.txt.2", "older"}}, {{"log.txt.1", "new"}, {"log.txt.3", "older"}}},
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
        const std::string failure =
            failureOf([&] { io::filesystem::RotateFileImpl().rotate(folder.path("log.txt"), c.keep); });
        EXPECT_EQ(c.after.count("log.txt") == 0, failure == "no exception") << failure;
        EXPECT_EQ(c.after, files(folder)) << "keep " << c.keep;
    }
}

}  // namespace
