#include "io/filesystem/LoadFileImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;

class LoadFileImplTest : public testing::Test {
protected:
    std::string loadError(const std::string& path, std::uint64_t count) const {
        try {
            _load.load(path, count);
        } catch (const io::IOException& e) {
            return e.what();
        }
        return "no exception";
    }

    TempFolder _folder;
    const io::filesystem::LoadFileImpl _load;
};

TEST_F(LoadFileImplTest, LoadsTheWholeFileOrItsFirstBytes) {
    const std::string bytes("\0\x01payload\xFF", 10);
    const std::string path = _folder.write("c.dat", bytes);
    EXPECT_EQ(bytes, _load.load(path, 0));
    EXPECT_EQ(bytes.substr(0, 3), _load.load(path, 3));
    EXPECT_EQ(bytes, _load.load(path, bytes.size()));
    EXPECT_EQ("", _load.load(_folder.write("empty.dat", ""), 0));
}

TEST_F(LoadFileImplTest, MissingFile) {
    const std::string path = _folder.path("missing.dat");
    EXPECT_EQ("An error occurred when trying to open the file for reading." +
                  expectedTail(path,
                               "System error message: No such file or directory. Error "
                               "code: 2."),
              loadError(path, 0));
    EXPECT_THROW(_load.load(path, 0), io::filesystem::LoadFileExceptionImpl);
}

TEST_F(LoadFileImplTest, FolderInsteadOfFile) {
    const std::string path = _folder.path("");
    EXPECT_EQ("An error occurred when trying to open the file for reading." +
                  expectedTail(path, "System error message: Is a directory. Error code: 21."),
              loadError(path, 0));
}

TEST_F(LoadFileImplTest, MoreBytesThanTheFileHolds) {
    const std::string path = _folder.write("four.dat", "1234");
    EXPECT_EQ(
        "Tried to read a larger number of bytes from a file that it contained. Tried to read : 10 "
        "File size: 4" +
            expectedTail(path, "System error message: Success. Error code: 0."),
        loadError(path, 10));
}

TEST_F(LoadFileImplTest, EmptyPath) {
    EXPECT_EQ("Cannot load file. No filename specified." +
                  expectedTail("", "System error message: Success. Error code: 0."),
              loadError("", 0));
}

// A sparse file of 2^31 bytes costs no disk space.
TEST_F(LoadFileImplTest, FileAboveTheSizeLimit) {
    const std::string path = _folder.write("huge.dat", "");
    ASSERT_EQ(0, ::truncate(path.c_str(), 2147483648LL));
    EXPECT_EQ(
        "Could not load the file because the file size was too big. The file size is 2147483648. "
        "The file cannot be bigger than 2147483647 bytes." +
            expectedTail(path, "System error message: Success. Error code: 0."),
        loadError(path, 0));
    EXPECT_EQ(std::string(16, '\0'), _load.load(path, 16));
}

TEST_F(LoadFileImplTest, TailNamesAMissingWorkingDirectory) {
    const int previous = ::open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(previous, 0);
    const std::string gone = _folder.path("gone");
    ASSERT_EQ(0, ::mkdir(gone.c_str(), 0755));
    ASSERT_EQ(0, ::chdir(gone.c_str()));
    ASSERT_EQ(0, ::rmdir(gone.c_str()));
    const std::string message = loadError("x.dat", 0);
    ASSERT_EQ(0, ::fchdir(previous));
    ::close(previous);
    EXPECT_EQ(
        "An error occurred when trying to open the file for reading.\nFilename: 'x.dat'. \n"
        "Current Working Directory: 'Couldn't get the current directory. Exception: System error "
        "message: No such file or directory. Error code: 2.'.\nSystem error message: No such file "
        "or directory. Error code: 2.\nC++ exception: None.",
        message);
}

}  // namespace
