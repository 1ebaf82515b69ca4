#include "server/XmlHookImpl.h"

#include <time.h>

#include <utility>

#include "exceptions/Exception.h"
#include "platform/thread/CurrentThread.h"

namespace norvale::quillmark {

std::uint32_t millisecondTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(milliseconds);
}

XmlHookImpl::XmlHookImpl(const io::filesystem::SaveFile* saveFile,
                         const io::filesystem::ExistsFile* existsFile,
                         const posix::file::CreateFolder* createFolder, Log* log,
                         std::string directory, const posix::file::DiskSpace* diskSpace)
    : _saveFile(saveFile),
      _existsFile(existsFile),
      _createFolder(createFolder),
      _log(log),
      _directory(std::move(directory)),
      _diskSpace(diskSpace) {}

std::string XmlHookImpl::fileName(const std::string& directory, std::uint32_t threadId,
                                  std::uint32_t tick) {
    std::string name = directory;
    if (!name.empty()) name += '/';
    name +=
        "request_threadid_" + std::to_string(threadId) + "_uid_" + std::to_string(tick) + ".xml";
    return name;
}

void XmlHookImpl::save(const std::string& request) {
    if (request.empty()) return;
    try {
        write(request);
    } catch (const exceptions::Exception& e) {
        _log->error(std::string("Could not save a request: ") + e.what());
    }
}

void XmlHookImpl::write(const std::string& request) {
    // The save below names the file it could not write when the folder cannot be made.
    if (!_directory.empty()) _createFolder->createIfPossible(_directory);
    const std::uint64_t freeBytes = _diskSpace->available(_directory.empty() ? "." : _directory);
    if (freeBytes < MinimumFreeBytes) {
        _log->log(
            "Skipping to save request, to little harddrive space (less than 1gb). Free space: " +
            std::to_string(freeBytes));
        return;
    }
    const std::string first =
        fileName(_directory, platform::thread::currentThreadId(), millisecondTick());
    std::string name = first;
    // Only this thread makes names with its id, so a name found free stays free until saved.
    for (int repeat = 2; _existsFile->exists(name); ++repeat) {
        name = first;
        name.insert(name.size() - 4, "_" + std::to_string(repeat));
    }
    _saveFile->save(name, request);
}

}  // namespace norvale::quillmark
