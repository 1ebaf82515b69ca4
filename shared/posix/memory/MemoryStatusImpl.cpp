#include "posix/memory/MemoryStatusImpl.h"

#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "platform/errorresources/SystemErrorText.h"

namespace platform::memory {

namespace {

[[noreturn]] void fail(int error) {
    throw MemoryStatusException("Failed to get memory status using 'GlobalMemoryStatusEx'. " +
                                platform::errorresources::systemErrorText(error));
}

// meminfo lines read "MemTotal:       16318020 kB".
std::optional<std::uint64_t> meminfoField(const std::string& content, const std::string& name) {
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(name.size() + 1));
        std::uint64_t kilobytes = 0;
        if (fields >> kilobytes) return kilobytes * 1024;
    }
    return std::nullopt;
}

// A cgroup value file holds a number of bytes or "max"; nullopt for "max" and missing files.
std::optional<std::uint64_t> cgroupValue(const std::string& file) {
    std::ifstream in(file);
    std::uint64_t value = 0;
    if (in >> value) return value;
    return std::nullopt;
}

// The process's groups of /proc/self/cgroup: the unified hierarchy's entry reads
// "0::/path/of/the/group", the cgroup v1 memory controller's "4:memory:/path" (or
// "4:cpu,memory:/path", controllers mounted together).
struct CgroupPaths {
    std::optional<std::string> unified;
    std::optional<std::string> memoryV1;
};

CgroupPaths cgroupPaths(const std::string& ownCgroup) {
    CgroupPaths paths;
    std::ifstream in(ownCgroup);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("0::", 0) == 0) {
            paths.unified = line.substr(3);
            continue;
        }
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        if (controllers.find(",memory,") != std::string::npos)
            paths.memoryV1 = line.substr(second + 1);
    }
    return paths;
}

}  // namespace

MemoryStatusImpl::MemoryStatusImpl(MemoryStatusFiles files) : _files(std::move(files)) {}

std::uint64_t MemoryStatusImpl::available() const {
    Figures figures = machineFigures();
    applyCgroupLimits(figures);
    return figures.available;
}

std::uint64_t MemoryStatusImpl::total() const {
    Figures figures = machineFigures();
    applyCgroupLimits(figures);
    return figures.total;
}

MemoryStatusImpl::Figures MemoryStatusImpl::machineFigures() const {
    std::ifstream in(_files.meminfo);
    if (!in) fail(errno);
    std::ostringstream content;
    content << in.rdbuf();
    const auto available = meminfoField(content.str(), "MemAvailable");
    const auto total = meminfoField(content.str(), "MemTotal");
    if (!available || !total) fail(ENODATA);
    return Figures{*available, *total};
}

void MemoryStatusImpl::applyCgroupLimits(Figures& figures) const {
    const CgroupPaths paths = cgroupPaths(_files.ownCgroup);
    if (paths.unified) {
        applyGroupLimits(figures, _files.cgroupRoot, *paths.unified, "/memory.max",
                         "/memory.current");
    }
    if (paths.memoryV1) {
        applyGroupLimits(figures, _files.cgroupV1Memory, *paths.memoryV1, "/memory.limit_in_bytes",
                         "/memory.usage_in_bytes");
    }
}

// Walks from the process's own group up to the root of the visible hierarchy; inside a
// container the root itself may carry the container's limit.
void MemoryStatusImpl::applyGroupLimits(Figures& figures, const std::string& root,
                                        const std::string& path, const char* limitFile,
                                        const char* usageFile) {
    std::string group = path;
    for (;;) {
        const std::string folder = root + (group == "/" ? "" : group);
        const std::optional<std::uint64_t> limit = cgroupValue(folder + limitFile);
        if (limit) {
            const std::uint64_t used = cgroupValue(folder + usageFile).value_or(0);
            const std::uint64_t left = used < *limit ? *limit - used : 0;
            if (left < figures.available) figures.available = left;
            if (*limit < figures.total) figures.total = *limit;
        }
        if (group.empty() || group == "/") return;
        const auto slash = group.find_last_of('/');
        group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
    }
}

}  // namespace platform::memory
