#pragma once

// The child-process launcher of the tests: runs an executable with its standard output and error
// in files, from a working folder of its choosing, in an environment without the variables that
// would make a server believe it runs under systemd (they are removed from this process's own).
// A child still running when the object goes is killed.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace norvale::quillmark::testing {

class ServerProcess {
public:
    // args[0] is the executable. pid() is -1 when it could not be started.
    ServerProcess(std::vector<std::string> args, const std::string& outPath,
                  const std::string& errPath, const std::string& workingFolder = "/") {
        std::vector<char*> argv;
        for (std::string& word : args) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::unsetenv("INVOCATION_ID");
        ::unsetenv("NOTIFY_SOCKET");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const int flags = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), flags, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), flags, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
        if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) _pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    // Moved, never copied (declaring the move leaves no copy).
    ServerProcess(ServerProcess&& other) noexcept : _pid(std::exchange(other._pid, -1)) {}
    ~ServerProcess() { kill(); }

    pid_t pid() const { return _pid; }
    bool signal(int number) const { return _pid > 0 && ::kill(_pid, number) == 0; }
    // Waits for the end, killing the child after `bound`: its exit code, -1 when a signal ended
    // it, -2 when the bound was reached.
    int wait(std::chrono::seconds bound = std::chrono::seconds(300)) {
        int status = 0;
        for (const auto deadline = std::chrono::steady_clock::now() + bound;
             _pid > 0 && ::waitpid(_pid, &status, WNOHANG) == 0;
             std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            if (std::chrono::steady_clock::now() > deadline) kill();
        }
        if (_pid <= 0) return -2;
        _pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Ends the child at once: no destructor, no flush, no unlock runs.
    void kill() {
        if (_pid <= 0) return;
        ::kill(_pid, SIGKILL);
        ::waitpid(_pid, nullptr, 0);
        _pid = -1;
    }

private:
    pid_t _pid = -1;
};

}  // namespace norvale::quillmark::testing
