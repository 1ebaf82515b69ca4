#pragma once

#include <string>

#include "io/filesystem/FileDescriptor.h"
#include "posix/services/Service.h"

namespace posix::services {

// A systemd unit: the handle is the unit file kept open, start and stop go to "systemctl",
// the description is the unit's Description line, and removing disables the unit and deletes
// its file.
class ServiceImpl : public Service {
public:
    // Takes over `handle`, an open descriptor of the unit file at `unitPath`.
    ServiceImpl(int handle, std::string unitPath, std::string unitName);

    void close() override;
    void start() override;
    void stop() override;
    void setDescription(const char* description) override;
    void remove() override;

private:
    void checkOpen() const;
    std::string readUnit() const;
    void replaceUnit(const std::string& content) const;

    io::filesystem::FileDescriptor _handle;
    const std::string _unitPath;
    const std::string _unitName;
};

}  // namespace posix::services
