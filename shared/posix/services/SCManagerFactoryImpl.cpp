#include "posix/services/SCManagerFactoryImpl.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"
#include "posix/services/SCManagerImpl.h"
#include "posix/services/UnitFile.h"

namespace posix::services {

std::unique_ptr<SCManager> SCManagerFactoryImpl::open(const std::string& host) const {
    const std::string opening =
        "Could not open Service Control Manager using 'OpenSCManager'. Host: " + host + ". ";
    if (!host.empty()) {
        throw SCManagerException(opening + platform::errorresources::systemErrorText(EOPNOTSUPP));
    }
    const std::string folder = unitFolder();
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        throw SCManagerException(opening + platform::errorresources::lastSystemErrorText());
    }
    return std::make_unique<SCManagerImpl>(handle, folder);
}

}  // namespace posix::services
