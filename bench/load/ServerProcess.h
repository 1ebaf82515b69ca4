#pragma once

// The staged quillmarkserver as a child process: a folder of its own holding a link to (or a
// copy of) the staged executable, its schemas and a config.xml with a free loopback port and the
// given classifier root. Started from "/", output in server.out / server.err in that folder.
// One thread drives it; stop() or destruction ends the child (SIGTERM, SIGKILL after a minute).

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "exceptions/Exception.h"

namespace bench::load {

class ServerProcessException : public exceptions::Exception {
public:
    using Exception::Exception;
};

struct ServerSettings {
    std::uint32_t maxClients = 64;
    std::uint32_t clientQueueSize = 128;
    std::string logLevel = "log";
};

class ServerProcess {
public:
    // stage: the folder with quillmarkserver and xml/schemas; folder: created for the copy.
    ServerProcess(std::filesystem::path stage, std::filesystem::path folder,
                  std::filesystem::path classifierRoot, ServerSettings settings = {});
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();

    // Starts the child on a new free port and returns once it accepts connections; throws
    // ServerProcessException when it ends or stays deaf for a minute (with its error output).
    void start();
    // Ends the child with SIGTERM and waits for it; returns its exit code (-1 after a signal).
    int stop();

    bool running() const { return _pid > 0; }
    pid_t pid() const { return _pid; }
    std::uint16_t port() const { return _port; }

    // VmRSS of the child in bytes, from /proc/<pid>/status.
    std::size_t residentBytes() const;
    // User plus system CPU time of the child so far, from /proc/<pid>/stat.
    double cpuSeconds() const;

private:
    void writeConfig();
    int waitForExit(int seconds);
    std::string errorOutput() const;

    std::filesystem::path _folder;
    std::filesystem::path _classifierRoot;
    ServerSettings _settings;
    pid_t _pid = -1;
    std::uint16_t _port = 0;
};

// A loopback port that nothing listens on at the time of the call.
std::uint16_t freeLoopbackPort();

// The number after "VmRSS:" in a /proc/<pid>/status text, in bytes; throws
// ServerProcessException when the line is missing or not "<number> kB".
std::size_t residentBytesOf(const std::string& statusText);

}  // namespace bench::load
