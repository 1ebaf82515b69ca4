#include "posix/file/DeleteFileImpl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class DeleteFileImplTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm_delete_XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        _root = pattern;
    }
    void TearDown() override { fs::remove_all(_root); }

    std::string deleteError(const std::string& path, bool failIfMissing) const {
        try {
            _delete.deleteFile(path, failIfMissing);
        } catch (const posix::file::DeleteFileExceptionImpl& e) {
            return e.what();
        }
        return "no exception";
    }

    fs::path _root;
    const posix::file::DeleteFileImpl _delete;
};

TEST_F(DeleteFileImplTest, DeletesAndToleratesMissingFilesOnRequest) {
    const std::string path = (_root / "request.xml").string();
    std::ofstream(path) << "<x/>";
    _delete.deleteFile(path, true);
    EXPECT_FALSE(fs::exists(path));
    _delete.deleteFile(path, false);
    EXPECT_EQ("Couldn't delete the file: " + path +
                  "\nSystem error message: No such file or directory. Error code: 2.",
              deleteError(path, true));
}

TEST_F(DeleteFileImplTest, FolderIsNotDeleted) {
    const std::string path = _root.string();
    EXPECT_EQ("Couldn't delete the file: " + path +
                  "\nSystem error message: Is a directory. Error code: 21.",
              deleteError(path, false));
    EXPECT_TRUE(fs::is_directory(path));
}

}  // namespace
