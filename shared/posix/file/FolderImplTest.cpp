#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "io/filesystem/TempFolder.h"
#include "posix/file/CreateFolderImpl.h"
#include "posix/file/CurrentDirectoryImpl.h"
#include "posix/file/DiskSpaceImpl.h"
#include "posix/file/ModuleImpl.h"

namespace {

namespace fs = std::filesystem;

// Restores the working folder the test started in.
class KeepWorkingFolder {
public:
    KeepWorkingFolder() : _fd(::open(".", O_RDONLY | O_DIRECTORY)) {}
    ~KeepWorkingFolder() {
        EXPECT_EQ(0, ::fchdir(_fd));
        ::close(_fd);
    }

private:
    int _fd;
};

TEST(FolderImplTest, SuccessfulCallsDoWhatTheyName) {
    const io::filesystem::test::TempFolder temp;
    const KeepWorkingFolder keep;
    const posix::file::CreateFolderImpl createFolder;
    createFolder.create(temp.path("logs"), false);
    createFolder.create(temp.path("logs"), false);  // already there: accepted
    EXPECT_TRUE(fs::is_directory(temp.path("logs")));

    posix::file::CurrentDirectoryImpl current;
    current.set(temp.path("logs"));
    EXPECT_EQ(fs::canonical(temp.path("logs")).string(), current.get());

    const std::uint64_t available = posix::file::DiskSpaceImpl().available(temp.path(""));
    EXPECT_GT(available, 0u);

    EXPECT_EQ(fs::read_symlink("/proc/self/exe").string(), posix::file::ModuleImpl().fileName());
}

// Each failure names what was asked for and the system's reason.
TEST(FolderImplTest, FailuresNameThePathAndTheSystemText) {
    const io::filesystem::test::TempFolder temp;
    const KeepWorkingFolder keep;
    const std::string logs = temp.path("logs");
    const std::string missing = temp.path("missing");
    fs::create_directories(logs);
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
        SCOPED_TRACE(c.message);
        try {
            c.call();
            ADD_FAILURE() << "no exception";
        } catch (const exceptions::Exception& e) {
            EXPECT_EQ(c.message, e.what());
        }
    }
}

}  // namespace
