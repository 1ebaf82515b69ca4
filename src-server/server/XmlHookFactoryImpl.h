#pragma once

#include <memory>
#include <string>

#include "io/filesystem/ExistsFile.h"
#include "io/filesystem/SaveFile.h"
#include "posix/file/CreateFolder.h"
#include "posix/file/DiskSpace.h"
#include "server/Log.h"
#include "server/XmlHook.h"

namespace norvale::quillmark {

// Makes archiving hooks that all write into one directory. The services must outlive the
// factory and its hooks.
class XmlHookFactoryImpl : public XmlHookFactory {
public:
    XmlHookFactoryImpl(const io::filesystem::SaveFile* saveFile,
                       const io::filesystem::ExistsFile* existsFile,
                       const posix::file::CreateFolder* createFolder, Log* log,
                       std::string directory, const posix::file::DiskSpace* diskSpace);

    std::unique_ptr<XmlHook> create() const override;

private:
    const io::filesystem::SaveFile* _saveFile;
    const io::filesystem::ExistsFile* _existsFile;
    const posix::file::CreateFolder* _createFolder;
    Log* _log;
    const std::string _directory;
    const posix::file::DiskSpace* _diskSpace;
};

}  // namespace norvale::quillmark
