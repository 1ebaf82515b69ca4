#pragma once

#include <string>

#include "io/filesystem/FileDescriptor.h"
#include "posix/services/SCManager.h"

namespace posix::services {

// systemd's unit folder: the handle is the folder kept open, a service is installed when its
// unit file exists there. Registering writes the unit file and enables the unit.
class SCManagerImpl : public SCManager {
public:
    // Takes over `handle`, an open descriptor of the unit folder `folder`.
    SCManagerImpl(int handle, std::string folder);

    void close() override;
    std::unique_ptr<Service> openService(const std::string& name) override;
    std::unique_ptr<Service> createService(const std::string& name, const std::string& displayName,
                                           const std::string& commandLine) override;

private:
    io::filesystem::FileDescriptor _handle;
    const std::string _folder;
};

}  // namespace posix::services
