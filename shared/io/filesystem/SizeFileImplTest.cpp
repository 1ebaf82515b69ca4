#include "io/filesystem/SizeFileImpl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;

class SizeFileImplTest : public testing::Test {
protected:
    std::string sizeError(const std::string& path) const {
        try {
            _size.size(path, true);
        } catch (const io::filesystem::SizeFileException& e) {
            return e.what();
        }
        return "no exception";
    }

    TempFolder _folder;
    const io::filesystem::SizeFileImpl _size;
};

TEST_F(SizeFileImplTest, SizesFilesBeyond32Bits) {
    EXPECT_EQ(4u, _size.size(_folder.write("four.dat", "1234"), true));
    const std::string sparse = _folder.write("sparse.dat", "");
    ASSERT_EQ(0, ::truncate(sparse.c_str(), 5000000000LL));
    EXPECT_EQ(5000000000u, _size.size(sparse, false));
}

TEST_F(SizeFileImplTest, MissingFileIsZeroUnlessItMustExist) {
    const std::string path = _folder.path("missing.dat");
    EXPECT_EQ(0u, _size.size(path, false));
    const std::string text = "System error message: No such file or directory. Error code: 2.";
    EXPECT_EQ("Failed to open '" + path + "' while getting file size.\n" + text +
                  expectedTail(path, text),
              sizeError(path));
}

TEST_F(SizeFileImplTest, FolderIsNotAFile) {
    const std::string path = _folder.path("");
    const std::string text = "System error message: Is a directory. Error code: 21.";
    EXPECT_EQ("Failed to open '" + path + "' while getting file size.\n" + text +
                  expectedTail(path, text),
              sizeError(path));
    EXPECT_THROW(_size.size(path, false), io::filesystem::LoadFileException);
}

}  // namespace
