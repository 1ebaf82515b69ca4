#pragma once

// A shared library loaded for the lifetime of this object, for optional system routines that
// may be missing at run time. Lookups may come from any thread; the library is released when
// the object is destroyed, so procedures must not be called afterwards.

#include <string>

#include "exceptions/Exception.h"

namespace posix::dll {

class DllException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class Dll {
public:
    // Throws DllException "Couldn't load the dll: <name>. <loader's reason>".
    explicit Dll(const std::string& name);
    ~Dll();
    Dll(const Dll&) = delete;
    Dll& operator=(const Dll&) = delete;

    // Throws DllException "Error getting proc '<name>' from the dll '<library>'. <reason>".
    void* getProc(const std::string& name) const;

    template <typename Function>
    Function getProc(const std::string& name) const {
        return reinterpret_cast<Function>(getProc(name));
    }

private:
    std::string _name;
    void* _handle;
};

}  // namespace posix::dll
