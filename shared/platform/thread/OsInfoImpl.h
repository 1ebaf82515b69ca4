#pragma once

#include <string>

#include "platform/thread/OsInfo.h"

namespace platform::thread {

// Reads the running kernel with uname() once, at construction.
class OsInfoImpl : public OsInfo {
public:
    OsInfoImpl();

    std::string systemVersion() const override { return _systemVersion; }

private:
    std::string _systemVersion;
};

}  // namespace platform::thread
