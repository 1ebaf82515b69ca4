#pragma once

#include <cstdint>
#include <string>

#include "io/filesystem/ExistsFile.h"
#include "io/filesystem/SaveFile.h"
#include "posix/file/CreateFolder.h"
#include "posix/file/DiskSpace.h"
#include "server/Log.h"
#include "server/XmlHook.h"

namespace norvale::quillmark {

// Writes each request to a file of its own in the archive directory (made again when it was
// removed, by an operator emptying the archive say), named after the thread and the millisecond
// tick, unless the volume has less than a decimal gigabyte free; a name taken already (requests
// of one thread within a millisecond) gets "_2", "_3", ... before ".xml".
// Failures are logged and swallowed. One hook per request executor; the services must outlive it.
class XmlHookImpl : public XmlHook {
public:
    static constexpr std::uint64_t MinimumFreeBytes = 1'000'000'000;

    XmlHookImpl(const io::filesystem::SaveFile* saveFile,
                const io::filesystem::ExistsFile* existsFile,
                const posix::file::CreateFolder* createFolder, Log* log, std::string directory,
                const posix::file::DiskSpace* diskSpace);

    void save(const std::string& request) override;

    // The archive file of a request saved by thread threadId at tick.
    static std::string fileName(const std::string& directory, std::uint32_t threadId,
                                std::uint32_t tick);

private:
    void write(const std::string& request);

    const io::filesystem::SaveFile* _saveFile;
    const io::filesystem::ExistsFile* _existsFile;
    const posix::file::CreateFolder* _createFolder;
    Log* _log;
    const std::string _directory;
    const posix::file::DiskSpace* _diskSpace;
};

// Milliseconds of the monotonic clock, wrapping at 32 bits.
std::uint32_t millisecondTick();

}  // namespace norvale::quillmark
