#include "posix/services/Systemctl.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errorresources/SystemErrorText.h"

extern char** environ;

namespace posix::services {

namespace {

// Releases the spawn attributes however the spawn ends.
class SpawnActions {
public:
    SpawnActions() : _ready(::posix_spawn_file_actions_init(&_actions) == 0) {}
    ~SpawnActions() {
        if (_ready) ::posix_spawn_file_actions_destroy(&_actions);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;

    bool stdoutToStderr() {
        return _ready &&
               ::posix_spawn_file_actions_adddup2(&_actions, STDERR_FILENO, STDOUT_FILENO) == 0;
    }
    const posix_spawn_file_actions_t* get() const { return &_actions; }

private:
    posix_spawn_file_actions_t _actions;
    bool _ready;
};

}  // namespace

std::string runSystemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"systemctl"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::string command;
    std::vector<char*> argv;
    for (std::string& word : words) {
        command += (command.empty() ? "" : " ") + word;
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const std::string named = "The command '" + command + "'";

    SpawnActions actions;
    if (!actions.stdoutToStderr()) {
        return named + " could not be prepared. " +
               platform::errorresources::systemErrorText(ENOMEM);
    }
    pid_t child = 0;
    const int spawned =
        ::posix_spawnp(&child, argv[0], actions.get(), nullptr, argv.data(), environ);
    if (spawned != 0) {
        return named + " could not be run. " + platform::errorresources::systemErrorText(spawned);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return named + " could not be waited for. " +
                   platform::errorresources::lastSystemErrorText();
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFEXITED(status)) {
        return named + " ended with exit code " + std::to_string(WEXITSTATUS(status)) + ".";
    }
    return named + " was ended by signal " + std::to_string(WTERMSIG(status)) + ".";
}

}  // namespace posix::services
