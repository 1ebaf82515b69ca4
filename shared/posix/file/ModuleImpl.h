#pragma once

#include "posix/file/Module.h"

namespace posix::file {

class ModuleImpl : public Module {
public:
    // A null handle stands for the executable, named by `executableLink` (replaceable for
    // tests). The handle stays owned by the caller.
    explicit ModuleImpl(void* handle = nullptr, std::string executableLink = "/proc/self/exe");

    std::string fileName() const override;

private:
    void* _handle;
    std::string _executableLink;
};

}  // namespace posix::file
