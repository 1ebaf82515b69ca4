#include "posix/file/ModuleImpl.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <utility>

#include "platform/errorresources/SystemErrorText.h"
#include "posix/file/ExecutablePath.h"

namespace posix::file {

ModuleImpl::ModuleImpl(void* handle, std::string executableLink)
    : _handle(handle), _executableLink(std::move(executableLink)) {}

std::string ModuleImpl::fileName() const {
    std::string path;
    bool found = false;
    link_map* map = nullptr;
    if (_handle != nullptr && ::dlinfo(_handle, RTLD_DI_LINKMAP, &map) != 0) {
        errno = ENOENT;
    } else if (map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        path = map->l_name;
        found = true;
    } else {
        // The null handle and the handle of the main program (dlopen(nullptr)) both stand for
        // the executable, which the loader lists without a name.
        found = readLinkTarget(_executableLink, path);
    }
    if (!found) {
        throw ModuleException("Could not get the module filename: " +
                              platform::errorresources::lastSystemErrorText());
    }
    return path;
}

}  // namespace posix::file
