#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "posix/file/CreateFolderImpl.h"
#include "posix/file/CurrentDirectoryImpl.h"
#include "posix/file/DiskSpaceImpl.h"

namespace {

namespace fs = std::filesystem;

class FolderImplTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm_posix_XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        _root = pattern;
        _previous = ::open(".", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(_previous, 0);
    }
    void TearDown() override {
        EXPECT_EQ(0, ::fchdir(_previous));
        ::close(_previous);
        fs::remove_all(_root);
    }

    std::string path(const std::string& name) const { return (_root / name).string(); }
    std::string regularFile() const {
        std::ofstream(path("plain")) << "x";
        return path("plain");
    }

    fs::path _root;
    int _previous = -1;
};

TEST_F(FolderImplTest, CreateFolderMakesOneLevel) {
    const posix::file::CreateFolderImpl createFolder;
    createFolder.create(path("logs"), false);
    EXPECT_TRUE(fs::is_directory(path("logs")));
    createFolder.create(path("logs"), false);  // already there: accepted
    try {
        createFolder.create(path("logs"), true);
        FAIL() << "no exception";
    } catch (const posix::file::CreateFolderException& e) {
        EXPECT_EQ("Could not create the directory: " + path("logs") +
                      ".\n\nSystem error message: File exists. Error code: 17.",
                  e.what());
    }
    try {
        createFolder.create(path("missing/requests"), false);
        FAIL() << "no exception";
    } catch (const posix::file::CreateFolderException& e) {
        EXPECT_EQ("Could not create the directory: " + path("missing/requests") +
                      ".\n\nSystem error message: No such file or directory. Error code: 2.",
                  e.what());
    }
    EXPECT_THROW(createFolder.create(regularFile() + "/sub", false),
                 posix::file::CreateFolderException);
}

TEST_F(FolderImplTest, CurrentDirectorySetAndGet) {
    posix::file::CurrentDirectoryImpl current;
    current.set(_root.string());
    EXPECT_EQ(fs::canonical(_root).string(), current.get());
    try {
        current.set(path("missing"));
        FAIL() << "no exception";
    } catch (const posix::file::SetCurrentDirectoryException& e) {
        EXPECT_EQ("Could not set the directory, " + path("missing") +
                      ", to the current directory.\n\nSystem error message: No such file or "
                      "directory. Error code: 2.",
                  e.what());
    }
}

TEST_F(FolderImplTest, CurrentDirectoryThatWasRemoved) {
    posix::file::CurrentDirectoryImpl current;
    ASSERT_EQ(0, ::mkdir(path("gone").c_str(), 0755));
    current.set(path("gone"));
    ASSERT_EQ(0, ::rmdir(path("gone").c_str()));
    try {
        current.get();
        FAIL() << "no exception";
    } catch (const posix::file::GetCurrentDirectoryException& e) {
        EXPECT_STREQ(
            "Couldn't get the current directory.\n\n System error message: No such file or "
            "directory. Error code: 2.",
            e.what());
    }
}

TEST_F(FolderImplTest, DiskSpace) {
    const posix::file::DiskSpaceImpl diskSpace;
    struct statvfs volume {};
    ASSERT_EQ(0, ::statvfs(_root.c_str(), &volume));
    const std::uint64_t available = diskSpace.available(_root.string());
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, static_cast<std::uint64_t>(volume.f_blocks) * volume.f_frsize);
    try {
        diskSpace.available(path("missing"));
        FAIL() << "no exception";
    } catch (const posix::file::DiskSpaceException& e) {
        EXPECT_EQ("Could not get the amount of free disk space for the directory " +
                      path("missing") +
                      "System error message: No such file or directory. Error "
                      "code: 2.",
                  e.what());
    }
}

}  // namespace
