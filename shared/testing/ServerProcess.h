#pragma once

// The child-process launcher of the tests: runs an executable with its standard output and error
// in files, from a working folder of its choosing, in an environment without the variables that
// would make a server believe it runs under systemd. A child still running when the object goes
// is killed.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace norvale::quillmark::testing {

class ServerProcess {
public:
    // args[0] is the executable. pid() is -1 when it could not be started.
    ServerProcess(const std::vector<std::string>& args, const std::string& outPath,
                  const std::string& errPath, const std::string& workingFolder = "/");
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { kill(); }

    pid_t pid() const { return _pid; }
    bool signal(int number) const;
    // Waits for the end, killing the child after `bound`: its exit code, -1 when a signal ended
    // it, -2 when the bound was reached.
    int wait(std::chrono::seconds bound = std::chrono::seconds(300));
    // Ends the child at once: no destructor, no flush, no unlock runs.
    void kill();

private:
    pid_t _pid = -1;
};

}  // namespace norvale::quillmark::testing
