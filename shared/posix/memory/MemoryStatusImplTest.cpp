#include "posix/memory/MemoryStatusImpl.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "testing/MessageOf.h"

namespace {

using platform::memory::MemoryStatusImpl;

constexpr std::uint64_t MiB = 1024 * 1024;

// A fake meminfo (8 GiB, 6 GiB available) and cgroup tree: the machine's figures are lowered by
// the tightest memory limit on the process's group path in the unified hierarchy (the visible
// root included), or in the memory controller's own hierarchy of cgroup v1, whose "no limit" is a
// huge number; use above a limit leaves nothing. An unreadable meminfo fails with the reason.
TEST(MemoryStatusImplTest, TheTightestGroupLimitLowersTheMachineFigures) {
    const io::filesystem::test::TempFolder folder;
    platform::memory::MemoryStatusFiles files;
    files.meminfo = folder.write("meminfo",
                                 "MemTotal:        8388608 kB\nMemFree:         1048576 kB\n"
                                 "MemAvailable:    6291456 kB\nBuffers:           12345 kB\n");
    files.ownCgroup = folder.path("cgroup");
    files.cgroupRoot = folder.path("sys");
    files.cgroupV1Memory = folder.path("v1");
    const auto mib = [](std::uint64_t n) { return std::to_string(n * MiB); };
    const struct {
        std::string cgroup;
        std::vector<std::array<std::string, 3>> limits;  // group, memory.max, memory.current
        std::uint64_t availableMiB, totalMiB;
        bool v1 = false;  // the limits are of the memory controller of cgroup v1
    } cases[] = {
        {"0::/outer/inner\n", {{"/outer/inner", "max", "1000"}}, 6144, 8192},
        {"0::/outer/inner\n", {{"/outer/inner", mib(1024), mib(300)}}, 724, 1024},
        {"0::/outer/inner\n",
         {{"/outer/inner", mib(4096), mib(100)}, {"/outer", mib(2048), mib(1800)}},
         248,
         2048},
        {"12:memory:/legacy\n0::/\n", {{"", mib(512), mib(600)}}, 0, 512},
        {"4:memory:/docker/abc\n", {{"", mib(512), "0"}}, 6144, 8192},
        {"4:memory:/docker/abc\n", {{"", mib(512), mib(100)}}, 412, 512, true},
        {"5:cpu,memory:/outer\n0::/\n", {{"/outer", mib(1024), mib(24)}}, 1000, 1024, true},
        {"4:memory:/outer\n", {{"/outer", "9223372036854771712", mib(24)}}, 6144, 8192, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cgroup);
        std::filesystem::remove_all(files.cgroupRoot);
        std::filesystem::remove_all(files.cgroupV1Memory);
        std::filesystem::create_directories(folder.path("sys/outer/inner"));
        folder.write("cgroup", c.cgroup);
        for (const auto& [group, max, current] : c.limits) {
            const std::string at = (c.v1 ? "v1" : "sys") + group;
            folder.write(at + (c.v1 ? "/memory.limit_in_bytes" : "/memory.max"), max + "\n");
            folder.write(at + (c.v1 ? "/memory.usage_in_bytes" : "/memory.current"),
                         current + "\n");
        }
        const MemoryStatusImpl memory(files);
        EXPECT_EQ(c.availableMiB * MiB, memory.available());
        EXPECT_EQ(c.totalMiB * MiB, memory.total());
    }

    for (const auto& [meminfo, reason] :
         {std::pair{folder.path("missing"), "No such file or directory. Error code: 2."},
          std::pair{folder.write("short", "MemTotal: 100 kB\n"),
                    "No data available. Error code: 61."}}) {
        files.meminfo = meminfo;
        EXPECT_EQ(std::string("Failed to get memory status using 'GlobalMemoryStatusEx'. System "
                              "error message: ") +
                      reason,
                  norvale::quillmark::testing::messageOf<platform::memory::MemoryStatusException>(
                      [&] { MemoryStatusImpl(files).available(); }));
    }
}

}  // namespace
