#include "io/filesystem/RemoveFileImpl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "io/filesystem/TempFolder.h"

namespace {

TEST(RemoveFileImplTest, RemovesFilesAcceptsMissingOnesAndRefusesFolders) {
    io::filesystem::test::TempFolder folder;
    const io::filesystem::RemoveFileImpl removeFile;
    const std::string path = folder.write("spam.dat", "x");
    removeFile.remove(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    removeFile.remove(path);
    removeFile.remove(folder.path("never/there.dat"));
    try {
        removeFile.remove(folder.path(""));
        ADD_FAILURE() << "no exception";
    } catch (const io::filesystem::RemoveFileException& e) {
        EXPECT_EQ("Couldn't delete the file '" + folder.path("") +
                      "' file using the 'DeleteFile' system call.\nSystem error message: Is a "
                      "directory. Error code: 21.",
                  e.what());
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.path("")));
}

}  // namespace
