#pragma once

#include <chrono>
#include <cstdint>

#include "net/server/EventServer.h"
#include "platform/thread/ThreadFactory.h"
#include "server/ClassifyConnection.h"
#include "server/ConnectionParams.h"
#include "server/ServerLog.h"

namespace norvale::quillmark {

// The client road of the server: every accepted client a ClassifyConnection on an EventServer
// with maxClients workers. The server, its tests, benchmarks and helper programs all serve
// through it. Construct, start, stop and destroy on one thread; the params and the thread
// factory are not owned.
class ClassifyServer {
public:
    ClassifyServer(const platform::thread::ThreadFactory* threads, std::uint16_t port,
                   const net::server::EventServerLimits& limits, const ConnectionParams* params,
                   const net::server::EventServerAccess& access = {})
        : _log(params->log),
          _connections(params),
          _server(threads, port, limits, &_connections, &_log, access) {}

    void start() { _server.start(); }
    void stop() { _server.stop(); }
    // Running requests may finish and answer for at most `bound`.
    void stop(std::chrono::milliseconds bound) { _server.stop(bound); }
    std::uint16_t localPort() const { return _server.localPort(); }

private:
    ServerLog _log;
    ClassifyConnectionFactory _connections;
    net::server::EventServer _server;
};

}  // namespace norvale::quillmark
