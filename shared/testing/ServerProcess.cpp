#include "testing/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace norvale::quillmark::testing {

ServerProcess::ServerProcess(const std::vector<std::string>& args, const std::string& outPath,
                             const std::string& errPath, const std::string& workingFolder) {
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text = *variable;
        if (!text.starts_with("INVOCATION_ID=") && !text.starts_with("NOTIFY_SOCKET=")) {
            env.push_back(*variable);
        }
    }
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path] : {std::pair{STDOUT_FILENO, &outPath}, {STDERR_FILENO, &errPath}}) {
        posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) _pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

bool ServerProcess::signal(int number) const {
    return _pid > 0 && ::kill(_pid, number) == 0;
}

int ServerProcess::wait(std::chrono::seconds bound) {
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

void ServerProcess::kill() {
    if (_pid <= 0) return;
    ::kill(_pid, SIGKILL);
    ::waitpid(_pid, nullptr, 0);
    _pid = -1;
}

}  // namespace norvale::quillmark::testing
