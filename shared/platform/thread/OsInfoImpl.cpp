#include "platform/thread/OsInfoImpl.h"

#include <sys/utsname.h>

namespace platform::thread {

OsInfoImpl::OsInfoImpl() {
    struct utsname name {};
    if (::uname(&name) == 0) {
        _systemVersion = std::string(name.sysname) + " " + name.release;
    } else {
        _systemVersion = "unknown";
    }
}

}  // namespace platform::thread
