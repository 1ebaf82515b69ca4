#pragma once

#include "posix/file/ModuleName.h"

namespace posix::file {

class ModuleNameImpl : public ModuleName {
public:
    // `executableLink` names the executable; replaceable for tests.
    explicit ModuleNameImpl(std::string executableLink = "/proc/self/exe");

    std::string fileName(const std::string& module) const override;

private:
    std::string _executableLink;
};

}  // namespace posix::file
