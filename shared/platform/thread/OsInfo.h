#pragma once

#include <string>

namespace platform::thread {

// What the threads need to know about the running system. Immutable, shared by all threads.
class OsInfo {
public:
    virtual ~OsInfo() = default;

    // The kernel's name and release, e.g. "Linux 6.1.0-18-amd64".
    virtual std::string systemVersion() const = 0;
};

}  // namespace platform::thread
