#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "io/filesystem/TempFolder.h"
#include "posix/file/CreateFolderImpl.h"
#include "posix/file/CurrentDirectoryImpl.h"
#include "posix/file/DiskSpaceImpl.h"
#include "posix/file/ModuleImpl.h"
#include "testing/MessageOf.h"

namespace {

namespace fs = std::filesystem;

// The folder services start-up uses (their working paths, but for the disk space, are taken by
// every server the tests start) fail naming what was asked for and the system's reason.
TEST(FolderImplTest, FailuresNameThePathAndTheSystemText) {
    const io::filesystem::test::TempFolder temp;
    const fs::path workingFolder = fs::current_path();
    const std::string logs = temp.path("logs");
    const std::string missing = temp.path("missing");
    posix::file::CreateFolderImpl().create(logs, false);
    EXPECT_GT(posix::file::DiskSpaceImpl().available(logs), 0u);  // only the archive asks

    const char* const noEntry = "System error message: No such file or directory. Error code: 2.";
    const struct {
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {[&] { posix::file::CreateFolderImpl().create(logs, true); },
         "Could not create the directory: " + logs +
             ".\n\nSystem error message: File exists. Error code: 17."},
        {[&] { posix::file::CreateFolderImpl().create(missing + "/requests", false); },
         "Could not create the directory: " + missing + "/requests.\n\n" + noEntry},
        {[&] { posix::file::CurrentDirectoryImpl().set(missing); },
         "Could not set the directory, " + missing + ", to the current directory.\n\n" + noEntry},
        {[&] { posix::file::DiskSpaceImpl().available(missing); },
         "Could not get the amount of free disk space for the directory " + missing + noEntry},
        {[&] { posix::file::ModuleImpl(nullptr, "/proc/self/no-such-link").fileName(); },
         std::string("Could not get the module filename: ") + noEntry},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.message, norvale::quillmark::testing::messageOf<exceptions::Exception>(c.call));
    }
    EXPECT_EQ(workingFolder, fs::current_path());
}

}  // namespace
