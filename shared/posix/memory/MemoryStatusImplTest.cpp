#include "posix/memory/MemoryStatusImpl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::memory::MemoryStatusFiles;
using platform::memory::MemoryStatusImpl;

constexpr std::uint64_t MiB = 1024 * 1024;

// Fake /proc/meminfo, /proc/self/cgroup and cgroup tree below a temporary folder. The machine
// has 8 GiB with 6 GiB available; the process lives in /outer/inner.
class MemoryStatusImplTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm_memory_XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        _root = pattern;
        _files.meminfo = file("meminfo",
                              "MemTotal:        8388608 kB\nMemFree:         1048576 kB\n"
                              "MemAvailable:    6291456 kB\nBuffers:           12345 kB\n");
        _files.ownCgroup = file("cgroup", "0::/outer/inner\n");
        _files.cgroupRoot = (_root / "sys").string();
        fs::create_directories(_root / "sys/outer/inner");
    }
    void TearDown() override { fs::remove_all(_root); }

    std::string file(const std::string& name, const std::string& content) const {
        const fs::path path = _root / name;
        std::ofstream(path) << content;
        return path.string();
    }
    void limit(const std::string& group, const std::string& max, const std::string& current) {
        file("sys" + group + "/memory.max", max + "\n");
        file("sys" + group + "/memory.current", current + "\n");
    }

    fs::path _root;
    MemoryStatusFiles _files;
};

TEST_F(MemoryStatusImplTest, MachineFiguresWithoutLimits) {
    limit("/outer/inner", "max", "1000");
    const MemoryStatusImpl memory(_files);
    EXPECT_EQ(6144 * MiB, memory.available());
    EXPECT_EQ(8192 * MiB, memory.total());
}

TEST_F(MemoryStatusImplTest, OwnGroupLimitLowersBothFigures) {
    limit("/outer/inner", std::to_string(1024 * MiB), std::to_string(300 * MiB));
    const MemoryStatusImpl memory(_files);
    EXPECT_EQ(724 * MiB, memory.available());
    EXPECT_EQ(1024 * MiB, memory.total());
}

TEST_F(MemoryStatusImplTest, TightestGroupOnThePathWins) {
    limit("/outer/inner", std::to_string(4096 * MiB), std::to_string(100 * MiB));
    limit("/outer", std::to_string(2048 * MiB), std::to_string(1800 * MiB));
    const MemoryStatusImpl memory(_files);
    EXPECT_EQ(248 * MiB, memory.available());
    EXPECT_EQ(2048 * MiB, memory.total());
}

TEST_F(MemoryStatusImplTest, LimitAtTheVisibleRootCountsAndOverUseMeansNothingLeft) {
    file("cgroup", "12:memory:/legacy\n0::/\n");
    limit("", std::to_string(512 * MiB), std::to_string(600 * MiB));
    const MemoryStatusImpl memory(_files);
    EXPECT_EQ(0u, memory.available());
    EXPECT_EQ(512 * MiB, memory.total());
}

TEST_F(MemoryStatusImplTest, NoUnifiedHierarchyMeansNoLimit) {
    file("cgroup", "4:memory:/docker/abc\n");
    limit("", std::to_string(512 * MiB), "0");
    const MemoryStatusImpl memory(_files);
    EXPECT_EQ(6144 * MiB, memory.available());
}

TEST_F(MemoryStatusImplTest, UnreadableMeminfoFails) {
    _files.meminfo = (_root / "missing").string();
    try {
        MemoryStatusImpl(_files).available();
        FAIL() << "no exception";
    } catch (const platform::memory::MemoryStatusException& e) {
        EXPECT_STREQ(
            "Failed to get memory status using 'GlobalMemoryStatusEx'. System error message: No "
            "such file or directory. Error code: 2.",
            e.what());
    }
    _files.meminfo = file("short", "MemTotal: 100 kB\n");
    try {
        MemoryStatusImpl(_files).total();
        FAIL() << "no exception";
    } catch (const platform::memory::MemoryStatusException& e) {
        EXPECT_STREQ(
            "Failed to get memory status using 'GlobalMemoryStatusEx'. System error message: No "
            "data available. Error code: 61.",
            e.what());
    }
}

TEST(MemoryStatusImplRealTest, ReadsThisMachine) {
    const MemoryStatusImpl memory;
    const std::uint64_t total = memory.total();
    EXPECT_GT(total, 0u);
    EXPECT_LE(memory.available(), total);
}

}  // namespace
