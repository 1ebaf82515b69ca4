#include "load/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "load/LoopbackClient.h"

extern char** environ;

namespace bench::load {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const Schemas[] = {"config/ConfigSchema.xsd", "server/RequestSchema.xsd",
                               "server/ResponseSchema.xsd"};

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The child's environment without the variables that would make it believe systemd runs it.
std::vector<char*> childEnvironment() {
    std::vector<char*> env;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text = *variable;
        if (text.starts_with("INVOCATION_ID=") || text.starts_with("NOTIFY_SOCKET=")) continue;
        env.push_back(*variable);
    }
    env.push_back(nullptr);
    return env;
}

// posix_spawn's file actions, destroyed with the scope.
class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&_actions); }
    posix_spawn_file_actions_t* get() { return &_actions; }

private:
    posix_spawn_file_actions_t _actions;
};

}  // namespace

std::uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool found = fd >= 0 &&
                       ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) ::close(fd);
    if (!found)
        throw ServerProcessException("No free loopback port: " + std::string(std::strerror(errno)));
    return ntohs(address.sin_port);
}

std::size_t residentBytesOf(const std::string& statusText) {
    const std::string label = "\nVmRSS:";
    const std::size_t at = ("\n" + statusText).find(label);
    if (at == std::string::npos) throw ServerProcessException("No VmRSS line in the status.");
    std::istringstream line(statusText.substr(at + label.size() - 1));
    std::size_t kilobytes = 0;
    std::string unit;
    if (!(line >> kilobytes >> unit) || unit != "kB") {
        throw ServerProcessException("The VmRSS line is not '<number> kB'.");
    }
    return kilobytes * 1024;
}

ServerProcess::ServerProcess(fs::path stage, fs::path folder, fs::path classifierRoot,
                             ServerSettings settings)
    : _folder(std::move(folder)),
      _classifierRoot(std::move(classifierRoot)),
      _settings(std::move(settings)) {
    for (const char* schema : Schemas) {
        fs::create_directories((_folder / "xml/schemas" / schema).parent_path());
        fs::copy_file(stage / "xml/schemas" / schema, _folder / "xml/schemas" / schema);
    }
    std::error_code linkFailed;
    fs::create_hard_link(stage / "quillmarkserver", _folder / "quillmarkserver", linkFailed);
    if (linkFailed) fs::copy_file(stage / "quillmarkserver", _folder / "quillmarkserver");
    fs::create_directories(_classifierRoot);
}

ServerProcess::~ServerProcess() {
    if (running()) stop();
}

void ServerProcess::writeConfig() {
    std::ofstream(_folder / "config.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<quillmark xmlns=\"http://quillmark.invalid/1/config/ConfigSchema\">\n"
           "  <port>"
        << _port
        << "</port>\n"
           "  <maxInput>104857600</maxInput>\n"
           "  <maxClients>"
        << _settings.maxClients
        << "</maxClients>\n"
           "  <clientQueueSize>"
        << _settings.clientQueueSize
        << "</clientQueueSize>\n"
           "  <classifierRootPath>"
        << _classifierRoot.string()
        << "/</classifierRootPath>\n"
           "  <logLevel>"
        << _settings.logLevel
        << "</logLevel>\n"
           "  <logMemory>false</logMemory>\n"
           "  <saveRequests>false</saveRequests>\n"
           "</quillmark>\n";
}

void ServerProcess::start() {
    if (running()) throw ServerProcessException("The server runs already.");
    _port = freeLoopbackPort();
    writeConfig();
    std::string executable = (_folder / "quillmarkserver").string();
    std::string configFlag = "-config";
    std::string configName = "config.xml";
    char* argv[] = {executable.data(), configFlag.data(), configName.data(), nullptr};
    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO,
                                       (_folder / "server.out").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO,
                                       (_folder / "server.err").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addchdir_np(actions.get(), "/");
    std::vector<char*> env = childEnvironment();
    const int failed = ::posix_spawn(&_pid, argv[0], actions.get(), nullptr, argv, env.data());
    if (failed != 0) {
        _pid = -1;
        throw ServerProcessException("Failed using the 'posix_spawn' system call: " +
                                     std::string(std::strerror(failed)));
    }
    const LoopbackClient client(_port);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!client.accepts()) {
        int status = 0;
        if (::waitpid(_pid, &status, WNOHANG) == _pid) {
            _pid = -1;
            throw ServerProcessException("The server ended at start-up: " + errorOutput());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw ServerProcessException("The server did not listen within a minute: " +
                                         errorOutput());
        }
        std::this_thread::sleep_for(10ms);
    }
}

int ServerProcess::waitForExit(int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -2;
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ServerProcess::stop() {
    if (!running()) return -1;
    ::kill(_pid, SIGTERM);
    int code = waitForExit(60);
    if (code == -2) {
        ::kill(_pid, SIGKILL);
        code = waitForExit(60);
    }
    _pid = -1;
    return code;
}

std::size_t ServerProcess::residentBytes() const {
    return residentBytesOf(readFile("/proc/" + std::to_string(_pid) + "/status"));
}

double ServerProcess::cpuSeconds() const {
    // The fields after the command name, which sits in parentheses and may hold blanks: state
    // is field 3, utime and stime are fields 14 and 15.
    const std::string stat = readFile("/proc/" + std::to_string(_pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14; ++i) fields >> field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string ServerProcess::errorOutput() const {
    return readFile(_folder / "server.err") + readFile(_folder / "server.out");
}

}  // namespace bench::load
