#pragma once

// Runs the system's service manager tool, "systemctl", found on PATH (tests put a fake first on
// PATH). Its standard output goes to our standard error, so a quiet console stays quiet.

#include <string>
#include <vector>

namespace posix::services {

// Runs "systemctl" with `arguments` and waits for it. Returns an empty text when it exited with
// 0, otherwise a sentence on what went wrong, naming the command, for the end of a failure
// message.
std::string runSystemctl(const std::vector<std::string>& arguments);

}  // namespace posix::services
