#pragma once

// The operating parameters of the server as read from its configuration file.

#include <cstdint>
#include <optional>
#include <string>

#include "net/server/ClientNetworks.h"

namespace norvale::quillmark {

struct ServerSettings {
    std::uint16_t port = 0;
    std::int32_t maxInput = 0;  // handed on sign-extended to 64 bits
    std::int32_t maxClients = 0;
    std::int32_t clientQueueSize = 0;  // backlog of the listening socket
    std::string classifierRootPath;    // never empty: an empty setting means the default root
    int logLevel = 0;                  // loglevel::Log .. loglevel::Test
    bool logMemory = false;
    bool saveRequests = false;  // always false in test mode
    // Rotation size of the log file (0: never) and the rotated copies kept beside it.
    std::uint64_t logFileMaxBytes = 0;
    int logFileCount = 0;
    std::string listenAddress;                   // empty: every IPv4 interface
    net::server::ClientNetworks allowedClients;  // empty: every client
    std::uint64_t maxOutput = 0;                 // largest answer in bytes; 0: no bound
    std::optional<std::uint16_t> metricsPort;    // none: no metrics page; never in test mode
    std::string metricsAddress;
    std::string postgresConnection;  // empty: classifiers in classifierRootPath
};

}  // namespace norvale::quillmark
