#include "posix/services/SCManagerImpl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"
#include "posix/services/ServiceImpl.h"
#include "posix/services/Systemctl.h"
#include "posix/services/UnitFile.h"

namespace posix::services {

using platform::errorresources::lastSystemErrorText;
using platform::errorresources::systemErrorText;

SCManagerImpl::SCManagerImpl(int handle, std::string folder)
    : _handle(handle), _folder(std::move(folder)) {}

void SCManagerImpl::close() {
    QM_ASSERT(_handle.valid(), "The service manager handle is closed.");
    const int handle = _handle.get();
    if (!_handle.close()) {
        throw SCManagerException(
            "Could not close Service Control Manager handle using 'CloseServiceHandle'. Handle: " +
            std::to_string(handle) + ". " + lastSystemErrorText());
    }
}

std::unique_ptr<Service> SCManagerImpl::openService(const std::string& name) {
    QM_ASSERT(_handle.valid(), "The service manager handle is closed.");
    const std::string unit = unitFileName(name);
    const int handle = ::openat(_handle.get(), unit.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) {
        const int error = errno;
        const std::string message = "Error opening the '" + name +
                                    " 'using the 'OpenService' system call. " +
                                    systemErrorText(error);
        if (error == ENOENT) throw ServiceDoesNotExistsException(message);
        throw ServiceException(message);
    }
    return std::make_unique<ServiceImpl>(handle, _folder + "/" + unit, unit);
}

std::unique_ptr<Service> SCManagerImpl::createService(const std::string& name,
                                                      const std::string& displayName,
                                                      const std::string& commandLine) {
    QM_ASSERT(_handle.valid(), "The service manager handle is closed.");
    static const std::string opening =
        "Error creating new service using the 'CreateService' system call. ";
    const std::string unit = unitFileName(name);
    // O_EXCL makes the existence check and the creation one step.
    const int handle =
        ::openat(_handle.get(), unit.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (handle < 0) {
        const int error = errno;
        if (error == EEXIST) throw ServiceAlreadyExistsException(opening + systemErrorText(error));
        throw ServiceException(opening + systemErrorText(error));
    }
    auto service = std::make_unique<ServiceImpl>(handle, _folder + "/" + unit, unit);

    // Until the unit is enabled a failure takes the half-made registration away again.
    const auto undo = [&](const std::string& failure) {
        ::unlinkat(_handle.get(), unit.c_str(), 0);
        throw ServiceException(opening + failure);
    };
    const std::string content = unitFileContent(displayName, commandLine);
    if (!io::filesystem::writeAll(handle, content.data(), content.size()) || ::fsync(handle) != 0) {
        undo(lastSystemErrorText());
    }
    const std::string failure = runSystemctl({"enable", unit});
    if (!failure.empty()) undo(failure);
    return service;
}

}  // namespace posix::services
