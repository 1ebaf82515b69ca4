#pragma once

// The name of the file a replacing save writes before it renames it over the target:
// "<target>.tmp-<pid>-<n>", unique among the threads and processes saving beside each other.
// A process killed during a save leaves such a file behind; owner tells whose it was, so that a
// later start-up can tell leftovers of dead processes from saves in progress. Any thread.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace io::filesystem {

class TemporarySaveName {
public:
    static std::string make(const std::string& target, pid_t pid, std::uint64_t number);

    // The pid in a file name (no folder) of exactly the form make writes, with a non-empty
    // target and a positive pid; nothing for any other name.
    static std::optional<pid_t> owner(std::string_view fileName);
};

}  // namespace io::filesystem
