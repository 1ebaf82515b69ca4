#include "server/XmlHookFactoryImpl.h"

#include <utility>

#include "server/XmlHookImpl.h"

namespace norvale::quillmark {

XmlHookFactoryImpl::XmlHookFactoryImpl(const io::filesystem::SaveFile* saveFile,
                                       const io::filesystem::ExistsFile* existsFile,
                                       const posix::file::CreateFolder* createFolder, Log* log,
                                       std::string directory,
                                       const posix::file::DiskSpace* diskSpace)
    : _saveFile(saveFile),
      _existsFile(existsFile),
      _createFolder(createFolder),
      _log(log),
      _directory(std::move(directory)),
      _diskSpace(diskSpace) {}

std::unique_ptr<XmlHook> XmlHookFactoryImpl::create() const {
    return std::make_unique<XmlHookImpl>(_saveFile, _existsFile, _createFolder, _log, _directory,
                                         _diskSpace);
}

}  // namespace norvale::quillmark
