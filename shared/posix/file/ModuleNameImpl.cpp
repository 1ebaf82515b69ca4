#include "posix/file/ModuleNameImpl.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <utility>

#include "platform/errorresources/SystemErrorText.h"
#include "posix/file/ExecutablePath.h"

namespace posix::file {

namespace {

// Without RTLD_NOLOAD the lookup would load the library just to name it.
bool loadedLibraryPath(const std::string& module, std::string& path) {
    void* handle = ::dlopen(module.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        errno = ENOENT;
        return false;
    }
    link_map* map = nullptr;
    const bool found = ::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
                       map->l_name != nullptr && map->l_name[0] != '\0';
    if (found) path = map->l_name;
    ::dlclose(handle);
    if (!found) errno = ENOENT;
    return found;
}

}  // namespace

ModuleNameImpl::ModuleNameImpl(std::string executableLink)
    : _executableLink(std::move(executableLink)) {}

std::string ModuleNameImpl::fileName(const std::string& module) const {
    std::string path;
    const bool found =
        module.empty() ? readLinkTarget(_executableLink, path) : loadedLibraryPath(module, path);
    if (!found) {
        throw ModuleNameException("Could not get the module filename for the module: " + module +
                                  ". " + platform::errorresources::lastSystemErrorText());
    }
    return path;
}

}  // namespace posix::file
