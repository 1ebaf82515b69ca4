#include "posix/debug/DumpFileName.h"

#include <vector>

#include "posix/debug/FixedText.h"

namespace posix::debug {

bool formatDumpFileName(const char* folder, std::uint32_t threadId, std::time_t seconds,
                        char* buffer, std::size_t size) noexcept {
    FixedText name(buffer, size);
    name.append(folder).append("dump_threadid_").appendDecimal(std::uint64_t{threadId});
    name.append("_time_").appendDecimal(static_cast<std::int64_t>(seconds)).append(".dmp");
    return !name.truncated();
}

std::string dumpFileName(const std::string& folder, std::uint32_t threadId, std::time_t seconds) {
    std::vector<char> buffer(folder.size() + 64);
    formatDumpFileName(folder.c_str(), threadId, seconds, buffer.data(), buffer.size());
    return buffer.data();
}

}  // namespace posix::debug
