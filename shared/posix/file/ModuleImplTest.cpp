#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "posix/file/ModuleImpl.h"
#include "posix/file/ModuleNameImpl.h"

namespace {

const std::string Executable = std::filesystem::read_symlink("/proc/self/exe").string();

TEST(ModuleNameImplTest, NamesTheExecutableAndLoadedLibraries) {
    const posix::file::ModuleNameImpl moduleName;
    EXPECT_EQ(Executable, moduleName.fileName(""));
    EXPECT_TRUE(Executable.ends_with("/PosixFileTest"));
    const std::string libc = moduleName.fileName("libc.so.6");
    EXPECT_EQ('/', libc.front());
    EXPECT_NE(std::string::npos, libc.find("libc.so.6"));
}

TEST(ModuleNameImplTest, Failures) {
    try {
        posix::file::ModuleNameImpl().fileName("libqm-never-loaded.so");
        FAIL() << "no exception";
    } catch (const posix::file::ModuleNameException& e) {
        EXPECT_STREQ(
            "Could not get the module filename for the module: libqm-never-loaded.so. System "
            "error message: No such file or directory. Error code: 2.",
            e.what());
    }
    EXPECT_THROW(posix::file::ModuleNameImpl("/proc/self/no-such-link").fileName(""),
                 posix::file::ModuleNameException);
}

TEST(ModuleImplTest, NamesTheExecutableOrAHandlesLibrary) {
    EXPECT_EQ(Executable, posix::file::ModuleImpl().fileName());
    void* self = ::dlopen(nullptr, RTLD_LAZY);
    EXPECT_EQ(Executable, posix::file::ModuleImpl(self).fileName());
    ::dlclose(self);
    void* libm = ::dlopen("libm.so.6", RTLD_LAZY);
    ASSERT_NE(nullptr, libm);
    EXPECT_NE(std::string::npos, posix::file::ModuleImpl(libm).fileName().find("libm.so.6"));
    ::dlclose(libm);
}

TEST(ModuleImplTest, FailureIsAnIOException) {
    try {
        posix::file::ModuleImpl(nullptr, "/proc/self/no-such-link").fileName();
        FAIL() << "no exception";
    } catch (const io::IOException& e) {
        EXPECT_STREQ(
            "Could not get the module filename: System error message: No such file or directory. "
            "Error code: 2.",
            e.what());
    }
}

}  // namespace
