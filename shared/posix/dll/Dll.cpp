#include "posix/dll/Dll.h"

#include <dlfcn.h>

#include "debug/assertion.h"

namespace posix::dll {

namespace {

std::string loaderReason() {
    const char* reason = ::dlerror();
    return reason != nullptr ? reason : "No reason given by the loader.";
}

}  // namespace

Dll::Dll(const std::string& name) : _name(name), _handle(::dlopen(name.c_str(), RTLD_NOW)) {
    if (_handle == nullptr) {
        throw DllException("Couldn't load the dll: " + name + ". " + loaderReason());
    }
}

Dll::~Dll() {
    const int result = ::dlclose(_handle);
    QM_ASSERT(result == 0, "Couldn't release a dynamic library.");
}

// A symbol may legitimately have the address 0, so failure is told by dlerror, not the result.
void* Dll::getProc(const std::string& name) const {
    ::dlerror();
    void* procedure = ::dlsym(_handle, name.c_str());
    const char* reason = ::dlerror();
    if (reason != nullptr) {
        throw DllException("Error getting proc '" + name + "' from the dll '" + _name + "'. " +
                           reason);
    }
    return procedure;
}

}  // namespace posix::dll
