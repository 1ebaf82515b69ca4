#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "io/filesystem/ExistsDirImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::TempFolder;

// "loop" is a symbolic link to itself: examining it fails with ELOOP although something is there.
class ExistsImplTest : public testing::Test {
protected:
    void SetUp() override {
        _file = _folder.write("file.dat", "data");
        _loop = _folder.path("loop");
        ASSERT_EQ(0, ::symlink(_loop.c_str(), _loop.c_str()));
    }

    TempFolder _folder;
    std::string _file;
    std::string _loop;
};

TEST_F(ExistsImplTest, ExistsFile) {
    const io::filesystem::ExistsFileImpl existsFile;
    EXPECT_TRUE(existsFile.exists(_file));
    EXPECT_FALSE(existsFile.exists(_folder.path("")));
    EXPECT_FALSE(existsFile.exists(_folder.path("missing.dat")));
    EXPECT_FALSE(existsFile.exists(_folder.path("missing/x.dat")));
    EXPECT_FALSE(existsFile.exists(_file + "/x.dat"));  // parent is a regular file
    EXPECT_FALSE(existsFile.exists(""));
    EXPECT_FALSE(existsFile.exists(std::string(5000, 'n')));
    EXPECT_TRUE(existsFile.exists(_loop));  // cannot be examined, so it counts as present
}

TEST_F(ExistsImplTest, ExistsDir) {
    const io::filesystem::ExistsDirImpl existsDir;
    EXPECT_TRUE(existsDir.exists(_folder.path("")));
    EXPECT_FALSE(existsDir.exists(_file));
    EXPECT_FALSE(existsDir.exists(_folder.path("missing")));
    EXPECT_FALSE(existsDir.exists(_file + "/sub"));
    EXPECT_FALSE(existsDir.exists(""));
    try {
        existsDir.exists(_loop);
        FAIL() << "no exception";
    } catch (const io::filesystem::ExistsDirException& e) {
        EXPECT_EQ("An error occured when checking if the directory \" " + _loop +
                      "\" exists. System error message: Too many levels of symbolic links. "
                      "Error code: 40.",
                  e.what());
    }
}

}  // namespace
