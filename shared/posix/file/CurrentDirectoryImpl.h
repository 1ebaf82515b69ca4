#pragma once

#include "posix/file/CurrentDirectory.h"

namespace posix::file {

class CurrentDirectoryImpl : public CurrentDirectory {
public:
    void set(const std::string& path) override;
    std::string get() const override;
};

}  // namespace posix::file
