#pragma once

#include <string>

namespace posix::file {

// Reads the target of a symbolic link such as "/proc/self/exe" (the running executable).
// Returns false with errno set on failure.
bool readLinkTarget(const std::string& link, std::string& target);

}  // namespace posix::file
