#pragma once

// A real quillmarkserver for the client's tests: the runnable folder of the build (executable,
// schemas, default config.xml) is copied into a temporary folder, the copy's config.xml gets a
// free port (and, when asked, another input limit), and the server runs there as a child
// process until the object is destroyed (SIGTERM, then waiting for it to end).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "client/ClientTestSupport.h"

extern char** environ;

namespace norvale::quillmark::client::test {

class ServerProcess {
public:
    explicit ServerProcess(std::optional<long> maxInput = std::nullopt) {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "qm_client_server_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        _folder = pattern;
        fs::copy(QM_STAGE_DIR, _folder, fs::copy_options::recursive);
        fs::remove_all(_folder / "classifiers");
        fs::remove_all(_folder / "logs");
        fs::create_directories(_folder / "classifiers");
        _port = freePort();
        std::string config = read(_folder / "config.xml");
        config = std::regex_replace(config, std::regex("<port>[0-9]+</port>"),
                                    "<port>" + std::to_string(_port) + "</port>");
        if (maxInput) {
            config = std::regex_replace(config, std::regex("<maxInput>[0-9]+</maxInput>"),
                                        "<maxInput>" + std::to_string(*maxInput) + "</maxInput>");
        }
        std::ofstream(_folder / "config.xml", std::ios::binary) << config;
        start();
    }

    ~ServerProcess() {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(_folder, ignored);
    }

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    std::uint16_t port() const { return _port; }

    void stop() {
        if (_pid <= 0) return;
        ::kill(_pid, SIGTERM);
        int status = 0;
        ::waitpid(_pid, &status, 0);
        _pid = -1;
    }

private:
    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A port the system just handed out for a listening socket, closed again.
    static std::uint16_t freePort() {
        Sockets sockets;
        return sockets.servers.create(0, 1)->localPort();
    }

    void start() {
        const std::string executable = (_folder / "quillmarkserver").string();
        const std::string configPath = (_folder / "config.xml").string();
        const std::string output = (_folder / "server.out").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const char* const arguments[] = {executable.c_str(), "-config", configPath.c_str(),
                                         nullptr};
        const int failed = ::posix_spawn(&_pid, executable.c_str(), &actions, nullptr,
                                         const_cast<char* const*>(arguments), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) throw std::runtime_error("cannot start " + executable);
        waitUntilServing();
    }

    // Serving when a request is answered with a response document (here an error document:
    // the probed classifier does not exist).
    void waitUntilServing() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (runQuillmark(_port, {"info", "probe"}).status == exitStatus::ErrorDocument) return;
            int status = 0;
            if (::waitpid(_pid, &status, WNOHANG) == _pid) {
                _pid = -1;
                throw std::runtime_error("the server ended at start: " +
                                         read(_folder / "server.out"));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("the server did not answer within 60 seconds");
    }

    std::filesystem::path _folder;
    std::uint16_t _port = 0;
    pid_t _pid = -1;
};

}  // namespace norvale::quillmark::client::test
