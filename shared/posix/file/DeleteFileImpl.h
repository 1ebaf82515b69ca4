#pragma once

#include "posix/file/DeleteFile.h"

namespace posix::file {

class DeleteFileImpl : public DeleteFile {
public:
    void deleteFile(const std::string& path, bool failIfMissing) const override;
};

}  // namespace posix::file
