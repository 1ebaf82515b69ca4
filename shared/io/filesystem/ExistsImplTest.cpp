#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "io/filesystem/ExistsDirImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::TempFolder;

// "loop" is a symbolic link to itself: examining it fails with ELOOP although something is there.
TEST(ExistsImplTest, FilesAndFolders) {
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
        {folder.path("missing.dat"), false, false},
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
}

}  // namespace
