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
};

// MemAvailable and MemTotal of meminfo, lowered to the limits of the process's cgroup (v2)
// and of every cgroup above it: available = memory.max - memory.current, total = memory.max.
// Without a cgroup v2 hierarchy, or with "max" everywhere, the machine's figures stand.
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

    MemoryStatusFiles _files;
};

}  // namespace platform::memory
