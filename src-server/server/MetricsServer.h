#pragma once

// Serves the metrics page over HTTP/1.1 for a scraper: GET /metrics answers the page, any other
// path 404 and any other method 405, and every connection closes after its one answer. One I/O
// thread of its own serves every client, so a scrape never takes a request worker; a client gets
// MetricsServer::Deadline for its request and its answer, and at most MaxClients are served at
// once (more are closed on arrival). Construct, start, stop and destroy on one thread; the thread
// factory is not owned. The page is made on the I/O thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/thread/ThreadFactory.h"

namespace norvale::quillmark {

class MetricsServer {
public:
    static constexpr std::chrono::seconds Deadline{5};
    static constexpr std::size_t MaxClients = 8;
    static constexpr std::size_t MaxRequestBytes = 8192;

    // Binds and listens on address:port (port 0: one the system picks). An address that is not
    // one is a PreconditionException; a port that cannot be bound an InitException.
    MetricsServer(const platform::thread::ThreadFactory* threads, const std::string& address,
                  std::uint16_t port, std::function<std::string()> page);
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;
    // Stops the server if stop has not run.
    ~MetricsServer();

    void start();
    // Closes the port and every connection; returns once the I/O thread has ended.
    void stop();
    std::uint16_t localPort() const;

private:
    class Road;
    std::unique_ptr<Road> _road;
};

}  // namespace norvale::quillmark
