#include "server/XmlHookImpl.h"

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/thread/CurrentThread.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "server/RepositoryTestSupport.h"
#include "server/XmlHookFactoryImpl.h"

namespace norvale::quillmark {
namespace {

using testing::LogEntry;

class FixedDiskSpace : public posix::file::DiskSpace {
public:
    explicit FixedDiskSpace(std::uint64_t bytes) : bytes(bytes) {}
    std::uint64_t available(const std::string& folder) const override {
        asked.push_back(folder);
        if (failWith != nullptr) throw posix::file::DiskSpaceException(failWith);
        return bytes;
    }

    std::uint64_t bytes;
    const char* failWith = nullptr;
    mutable std::vector<std::string> asked;
};

class XmlHookImplTest : public ::testing::Test {
protected:
    std::vector<std::filesystem::path> archived() const {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(_directory)) {
            files.push_back(entry.path());
        }
        return files;
    }

    io::filesystem::test::TempFolder _folder;
    const std::string _directory = _folder.path("");
    io::filesystem::SaveFileImpl _saveFile;
    testing::RecordingLog _log;
    FixedDiskSpace _diskSpace{1'000'000'000};
    XmlHookImpl _hook{&_saveFile, &_log, _directory, &_diskSpace};
};

TEST_F(XmlHookImplTest, WritesTheRequestByteForByteUnderTheThreadAndTick) {
    const std::string request("not <xml> at all\0\xff\r\n", 21);
    const std::uint32_t before = millisecondTick();
    _hook.save(request);
    const std::uint32_t after = millisecondTick();

    const auto files = archived();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(request, io::filesystem::test::TempFolder::read(files[0]));
    std::smatch parts;
    const std::string name = files[0].filename().string();
    ASSERT_TRUE(std::regex_match(name, parts, std::regex("request_threadid_([0-9]+)_uid_([0-9]+)\\.xml")))
        << name;
    EXPECT_EQ(std::to_string(platform::thread::currentThreadId()), parts[1].str());
    const auto tick = static_cast<std::uint32_t>(std::stoul(parts[2].str()));
    EXPECT_LE(tick - before, after - before);
    EXPECT_EQ((std::vector<std::string>{_directory}), _diskSpace.asked);
    EXPECT_TRUE(_log.entries().empty());
}

TEST_F(XmlHookImplTest, SkipsBelowADecimalGigabyte) {
    _diskSpace.bytes = 999'999'999;
    _hook.save("<request/>");
    EXPECT_TRUE(archived().empty());
    EXPECT_EQ((std::vector<LogEntry>{{"Log",
                                      "Skipping to save request, to little harddrive space (less "
                                      "than 1gb). Free space: 999999999"}}),
              _log.entries());
}

TEST_F(XmlHookImplTest, AnEmptyRequestIsNotArchived) {
    _hook.save("");
    EXPECT_TRUE(archived().empty());
    EXPECT_TRUE(_diskSpace.asked.empty());
    EXPECT_TRUE(_log.entries().empty());
}

TEST_F(XmlHookImplTest, FailuresAreLoggedAndSwallowed) {
    // A folder below a regular file cannot exist, whoever asks.
    const std::string blocked = _folder.write("plain", "x") + "/requests";
    XmlHookImpl hook(&_saveFile, &_log, blocked, &_diskSpace);
    EXPECT_NO_THROW(hook.save("<request/>"));
    _diskSpace.failWith = "No space information.";
    EXPECT_NO_THROW(hook.save("<request/>"));

    const auto entries = _log.entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ("Error", entries[0].level);
    const std::string prefix = "Could not save a request: ";
    EXPECT_EQ(prefix, entries[0].message.substr(0, prefix.size()));
    EXPECT_NE(std::string::npos, entries[0].message.find(blocked + "/request_threadid_"))
        << entries[0].message;
    EXPECT_EQ((LogEntry{"Error", prefix + "No space information."}), entries[1]);
}

TEST(XmlHookImplFileNameTest, JoinsTheDirectoryWithASlash) {
    EXPECT_EQ("./logs/requests//request_threadid_7_uid_4294967295.xml",
              XmlHookImpl::fileName("./logs/requests/", 7, 4294967295u));
    EXPECT_EQ("request_threadid_12_uid_0.xml", XmlHookImpl::fileName("", 12, 0));
}

TEST_F(XmlHookImplTest, FactoriesMakeHooksForTheirDirectory) {
    XmlHookFactoryImpl archiving(&_saveFile, &_log, _directory, &_diskSpace);
    archiving.create()->save("<a/>");
    ASSERT_EQ(1u, archived().size());
    EXPECT_EQ("<a/>", io::filesystem::test::TempFolder::read(archived()[0]));

    std::filesystem::remove(archived()[0]);
    EmptyXmlHookFactoryImpl off;
    off.create()->save("<a/>");
    EXPECT_TRUE(archived().empty());
    EXPECT_TRUE(_log.entries().empty());
}

}  // namespace
}  // namespace norvale::quillmark
