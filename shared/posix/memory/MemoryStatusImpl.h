#pragma once

#include <cstdint>
#include <string>

#include "posix/memory/MemoryStatus.h"

namespace platform::memory {

// Where the figures come from; tests point these at files of their own.
struct MemoryStatusFiles {
    std::string meminfo = "/proc/meminfo";
    std::string ownCgroup = "/proc/self/cgroup";
    std::string cgroupRoot = "/sys/fs/cgroup";
    std::string cgroupV1Memory = "/sys/fs/cgroup/memory";
};

// MemAvailable and MemTotal of meminfo, lowered to the limits of the process's cgroup and of
// every cgroup above it: available = memory.max - memory.current, total = memory.max (cgroup
// v2), and the same of memory.limit_in_bytes and memory.usage_in_bytes in the hierarchy of the
// cgroup v1 memory controller, where one is mounted. Without either, or with no limit anywhere,
// the machine's figures stand.
class MemoryStatusImpl : public MemoryStatus {
public:
    explicit MemoryStatusImpl(MemoryStatusFiles files = MemoryStatusFiles());

    std::uint64_t available() const override;
    std::uint64_t total() const override;

private:
    struct Figures {
        std::uint64_t available;
        std::uint64_t total;
    };

    Figures machineFigures() const;
    void applyCgroupLimits(Figures& figures) const;
    static void applyGroupLimits(Figures& figures, const std::string& root, const std::string& path,
                                 const char* limitFile, const char* usageFile);

    MemoryStatusFiles _files;
};

}  // namespace platform::memory
