#include "io/filesystem/LoadFileImpl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::expectedTail;
using io::filesystem::test::TempFolder;

TEST(LoadFileImplTest, LoadsTheWholeFileOrItsFirstBytes) {
    TempFolder folder;
    const io::filesystem::LoadFileImpl load;
    const std::string bytes("\0\x01payload\xFF", 10);
    const std::string path = folder.write("c.dat", bytes);
    EXPECT_EQ(bytes, load.load(path, 0));
    EXPECT_EQ(bytes.substr(0, 3), load.load(path, 3));
    EXPECT_EQ("", load.load(folder.write("empty.dat", ""), 0));
    // A sparse file of 2^31 bytes costs no disk space; its first bytes can still be read.
    const std::string huge = folder.write("huge.dat", "");
    ASSERT_EQ(0, ::truncate(huge.c_str(), 2147483648LL));
    EXPECT_EQ(std::string(16, '\0'), load.load(huge, 16));
}

TEST(LoadFileImplTest, FailuresNameThePathAndTheSystemError) {
    TempFolder folder;
    const std::string missing = folder.path("missing.dat");
    const std::string directory = folder.path("");
    const std::string four = folder.write("four.dat", "1234");
    const std::string huge = folder.write("huge.dat", "");
    ASSERT_EQ(0, ::truncate(huge.c_str(), 2147483648LL));
    const std::string open = "An error occurred when trying to open the file for reading.";
    const std::string success = "System error message: Success. Error code: 0.";
    const std::string noEntry = "System error message: No such file or directory. Error code: 2.";
    const std::string isDirectory = "System error message: Is a directory. Error code: 21.";
    struct Case {
        std::string path;
        std::uint64_t count;
        std::string message;
    };
    const std::vector<Case> cases = {
        {missing, 0, open + expectedTail(missing, noEntry)},
        {four, 10,
         "Tried to read a larger number of bytes from a file that it contained. Tried to read : "
         "10 File size: 4" + expectedTail(four, success)},
        {huge, 0,
         "Could not load the file because the file size was too big. The file size is "
         "2147483648. The file cannot be bigger than 2147483647 bytes." +
             expectedTail(huge, success)},
    };
    for (const Case& c : cases) {
        try {
            io::filesystem::LoadFileImpl().load(c.path, c.count);
            ADD_FAILURE() << c.message;
        } catch (const io::IOException& e) {
            EXPECT_EQ(c.message, e.what());
        }
    }

    // The size of a file that must exist fails the same way; one that need not counts as empty.
    const io::filesystem::SizeFileImpl size;
    EXPECT_EQ(0u, size.size(missing, false));
    ASSERT_EQ(0, ::truncate(huge.c_str(), 5000000000LL));
    EXPECT_EQ(5000000000u, size.size(huge, true));
    for (const auto& [path, text] : {std::pair{missing, noEntry}, {directory, isDirectory}}) {
        try {
            size.size(path, true);
            ADD_FAILURE() << path;
        } catch (const io::filesystem::SizeFileException& e) {
            EXPECT_EQ("Failed to open '" + path + "' while getting file size.\n" + text +
                          expectedTail(path, text),
                      e.what());
        }
    }
}

}  // namespace
