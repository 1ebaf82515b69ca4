#include "server/XmlHookImpl.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/thread/CurrentThread.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "testing/RecordingLog.h"
#include "server/XmlHookFactoryImpl.h"

namespace norvale::quillmark {
namespace {

using Lines = std::vector<std::string>;

class FixedDiskSpace : public posix::file::DiskSpace {
public:
    std::uint64_t available(const std::string&) const override {
        if (failWith != nullptr) throw posix::file::DiskSpaceException(failWith);
        return bytes;
    }
    std::uint64_t bytes = 1'000'000'000;
    const char* failWith = nullptr;
};

class XmlHookImplTest : public ::testing::Test {
protected:
    std::vector<std::filesystem::path> archived() const {
        return {std::filesystem::directory_iterator(_directory), {}};
    }

    io::filesystem::test::TempFolder _folder;
    const std::string _directory = _folder.path("");
    io::filesystem::SaveFileImpl _saveFile;
    testing::RecordingLog _log;
    FixedDiskSpace _diskSpace;
    XmlHookFactoryImpl _factory{&_saveFile, &_log, _directory, &_diskSpace};
};

TEST_F(XmlHookImplTest, ArchivesByteForByteFromADecimalGigabyteOn) {
    const std::string request("not <xml> at all\0\xff\r\n", 21);
    const std::uint32_t before = millisecondTick();
    _factory.create()->save(request);
    ASSERT_EQ(1u, archived().size());
    EXPECT_EQ(request, io::filesystem::test::TempFolder::read(archived()[0]));
    const std::string prefix =
        "request_threadid_" + std::to_string(platform::thread::currentThreadId()) + "_uid_";
    const std::string name = archived()[0].filename().string();
    ASSERT_EQ(prefix, name.substr(0, prefix.size()));
    EXPECT_LE(millisecondTick() - static_cast<std::uint32_t>(std::stoul(name.substr(prefix.size()))),
              millisecondTick() - before);

    std::filesystem::remove(archived()[0]);
    _diskSpace.bytes = 999'999'999;
    _factory.create()->save("<request/>");
    _factory.create()->save("");
    EmptyXmlHookFactoryImpl().create()->save("<request/>");
    EXPECT_TRUE(archived().empty());
    EXPECT_EQ((Lines{"Log: Skipping to save request, to little harddrive space (less than 1gb). "
                     "Free space: 999999999"}),
              _log.entries());
}

TEST_F(XmlHookImplTest, FailuresAreLoggedAndSwallowed) {
    // A folder below a regular file cannot exist, whoever asks.
    const std::string blocked = _folder.write("plain", "x") + "/requests";
    XmlHookImpl hook(&_saveFile, &_log, blocked, &_diskSpace);
    EXPECT_NO_THROW(hook.save("<request/>"));
    _diskSpace.failWith = "No space information.";
    EXPECT_NO_THROW(hook.save("<request/>"));

    const auto lines = _log.entries();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Error: Could not save a request: ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(blocked + "/request_threadid_")) << lines[0];
    EXPECT_EQ("Error: Could not save a request: No space information.", lines[1]);
}

}  // namespace
}  // namespace norvale::quillmark
