#pragma once

#include "posix/file/CreateFolder.h"

namespace posix::file {

class CreateFolderImpl : public CreateFolder {
public:
    void create(const std::string& path, bool failIfExists) const override;
};

}  // namespace posix::file
