#pragma once

#include "posix/services/SCManagerFactory.h"

namespace posix::services {

// Opens systemd's unit folder of this machine (see unitFolder()); other hosts are refused.
class SCManagerFactoryImpl : public SCManagerFactory {
public:
    std::unique_ptr<SCManager> open(const std::string& host) const override;
};

}  // namespace posix::services
