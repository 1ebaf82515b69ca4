#include "posix/memory/MemoryStatusImpl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// The machine's figures, lowered by the tightest memory limit on the process's group path in
// the unified hierarchy (the visible root included); use above a limit leaves nothing.
TEST_F(MemoryStatusImplTest, TheTightestGroupLimitLowersTheMachineFigures) {
    const auto mib = [](std::uint64_t n) { return std::to_string(n * MiB); };
    const struct {
        std::string cgroup;
        std::vector<std::array<std::string, 3>> limits;  // group, memory.max, memory.current
        std::uint64_t available;
        std::uint64_t total;
    } cases[] = {
        {"0::/outer/inner\n", {{"/outer/inner", "max", "1000"}}, 6144 * MiB, 8192 * MiB},
        {"0::/outer/inner\n", {{"/outer/inner", mib(1024), mib(300)}}, 724 * MiB, 1024 * MiB},
        {"0::/outer/inner\n",
         {{"/outer/inner", mib(4096), mib(100)}, {"/outer", mib(2048), mib(1800)}},
         248 * MiB,
         2048 * MiB},
        {"12:memory:/legacy\n0::/\n", {{"", mib(512), mib(600)}}, 0, 512 * MiB},
        {"4:memory:/docker/abc\n", {{"", mib(512), "0"}}, 6144 * MiB, 8192 * MiB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cgroup);
        fs::remove_all(_root / "sys");
        fs::create_directories(_root / "sys/outer/inner");
        file("cgroup", c.cgroup);
        for (const auto& [group, max, current] : c.limits) limit(group, max, current);
        const MemoryStatusImpl memory(_files);
        EXPECT_EQ(c.available, memory.available());
        EXPECT_EQ(c.total, memory.total());
    }
}

TEST_F(MemoryStatusImplTest, UnreadableMeminfoFails) {
    const struct {
        std::string meminfo;
        std::string reason;
    } cases[] = {{(_root / "missing").string(), "No such file or directory. Error code: 2."},
                 {file("short", "MemTotal: 100 kB\n"), "No data available. Error code: 61."}};
    for (const auto& c : cases) {
        _files.meminfo = c.meminfo;
        try {
            MemoryStatusImpl(_files).available();
            ADD_FAILURE() << "no exception";
        } catch (const platform::memory::MemoryStatusException& e) {
            EXPECT_EQ("Failed to get memory status using 'GlobalMemoryStatusEx'. System error "
                      "message: " + c.reason,
                      e.what());
        }
    }
}

TEST(MemoryStatusImplRealTest, ReadsThisMachine) {
    const MemoryStatusImpl memory;
    const std::uint64_t total = memory.total();
    EXPECT_GT(total, 0u);
    EXPECT_LE(memory.available(), total);
}

}  // namespace
