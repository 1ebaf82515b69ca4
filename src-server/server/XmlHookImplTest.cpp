#include "server/XmlHookImpl.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/thread/CurrentThread.h"
#include "posix/file/CreateFolderImpl.h"
#include "server/XmlHookFactoryImpl.h"
#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

class FixedDiskSpace : public posix::file::DiskSpace {
public:
    std::uint64_t available(const std::string&) const override {
        if (failWith != nullptr) throw posix::file::DiskSpaceException(failWith);
        return bytes;
    }
    std::uint64_t bytes = 1'000'000'000;
    const char* failWith = nullptr;
};

// Tells that the first name of every request is taken, as another request of the same thread
// within the same millisecond takes it.
class FirstNameTaken : public io::filesystem::ExistsFile {
public:
    bool exists(const std::string& path) const override { return !path.ends_with("_2.xml"); }
};

// Archives byte for byte from a decimal gigabyte of free space on, under a name of the thread
// and the tick (numbered on when taken); empty requests are not archived; failures are logged
// and swallowed.
TEST(XmlHookImplTest, ArchivesByteForByteFromADecimalGigabyteOn) {
    io::filesystem::test::TempFolder folder;
    const std::string directory = folder.path("");
    const io::filesystem::SaveFileImpl saveFile;
    const io::filesystem::ExistsFileImpl existsFile;
    const posix::file::CreateFolderImpl createFolder;
    testing::RecordingLog log;
    FixedDiskSpace diskSpace;
    XmlHookFactoryImpl factory(&saveFile, &existsFile, &createFolder, &log, directory, &diskSpace);
    const auto archived = [&] {
        return std::vector<std::filesystem::path>{std::filesystem::directory_iterator(directory),
                                                  {}};
    };

    const std::string request("not <xml> at all\0\xff\r\n", 21);
    const std::uint32_t before = millisecondTick();
    factory.create()->save(request);
    factory.create()->save("");
    ASSERT_EQ(1u, archived().size());
    EXPECT_EQ(request, io::filesystem::test::TempFolder::read(archived()[0]));
    const std::string prefix =
        "request_threadid_" + std::to_string(platform::thread::currentThreadId()) + "_uid_";
    const std::string name = archived()[0].filename().string();
    ASSERT_EQ(prefix, name.substr(0, prefix.size()));
    EXPECT_LE(
        millisecondTick() - static_cast<std::uint32_t>(std::stoul(name.substr(prefix.size()))),
        millisecondTick() - before);
    std::filesystem::remove(archived()[0]);
    // A name taken already (a request of the same thread within the same millisecond) is
    // numbered on, not replaced.
    const FirstNameTaken firstNameTaken;
    XmlHookImpl(&saveFile, &firstNameTaken, &createFolder, &log, directory, &diskSpace).save("new");
    ASSERT_EQ(1u, archived().size());
    const std::string numbered = archived()[0].filename().string();
    EXPECT_TRUE(numbered.starts_with(prefix) && numbered.ends_with("_2.xml")) << numbered;
    EXPECT_EQ("new", io::filesystem::test::TempFolder::read(archived()[0]));
    std::filesystem::remove(archived()[0]);
    // An archive folder removed while the server runs (emptied by hand) is made again.
    const std::string emptied = folder.path("emptied");
    XmlHookImpl(&saveFile, &existsFile, &createFolder, &log, emptied, &diskSpace).save("again");
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(emptied), {}));
    std::filesystem::remove_all(emptied);

    diskSpace.bytes = 999'999'999;
    factory.create()->save("<request/>");
    EXPECT_TRUE(archived().empty());
    // A folder below a regular file cannot exist, whoever asks.
    diskSpace.bytes = 1'000'000'000;
    const std::string blocked = folder.write("plain", "x") + "/requests";
    XmlHookImpl hook(&saveFile, &existsFile, &createFolder, &log, blocked, &diskSpace);
    EXPECT_NO_THROW(hook.save("<request/>"));
    diskSpace.failWith = "No space information.";
    EXPECT_NO_THROW(hook.save("<request/>"));
    const auto lines = log.entries();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(
        "Log: Skipping to save request, to little harddrive space (less than 1gb). Free space: "
        "999999999",
        lines[0]);
    EXPECT_EQ(0u, lines[1].find("Error: Could not save a request: ")) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find(blocked + "/request_threadid_")) << lines[1];
    EXPECT_EQ("Error: Could not save a request: No space information.", lines[2]);
}

}  // namespace
}  // namespace norvale::quillmark
