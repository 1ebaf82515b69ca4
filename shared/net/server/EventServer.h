#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/server/ClientNetworks.h"
#include "net/server/ConnectionFactory.h"
#include "net/server/EventServerLog.h"
#include "platform/thread/ThreadFactory.h"

namespace net::server {

struct EventServerLimits {
    // Requests executed at once; the server runs one thread more.
    std::uint32_t workers = 1;
    // The listen backlog.
    std::uint32_t backlog = 128;
    // Open connections beyond which a new one is accepted and closed at once; 0 takes
    // EventServer::maxConnectionsFor(workers).
    std::size_t maxConnections = 0;
    // Bytes of answers held for clients that have not read them yet, beyond which a further
    // answer the socket does not take at once is dropped (its connection reset); 0: no bound.
    // An answer alone is always held, however large.
    std::size_t heldAnswerBytes = 0;
};

// Who reaches the server.
struct EventServerAccess {
    // The IPv4 or IPv6 address to listen on; empty listens on every IPv4 interface.
    std::string listenAddress;
    // Clients from elsewhere are accepted and closed at once, without an answer.
    ClientNetworks allowedClients;
};

// Accepts TCP connections on one port and serves each through the Connection its factory makes,
// without a thread per connection: a fixed pool of workers + 1 threads, created at start, takes
// turns at one reactor that accepts, reads requests and writes answers on non-blocking sockets.
// The thread that reads a complete request hands the reactor on and executes that request
// itself, answer included. A connection that is idle, trickling or not reading costs a socket
// and its buffered bytes (answers not read count against heldAnswerBytes); its deadline closes
// it. Construct, start, stop and destroy on one thread;
// factory, log and thread factory are not owned and must outlive the server.
class EventServer {
public:
    // How long stop lets running requests finish and their answers go out.
    static constexpr std::chrono::milliseconds DefaultStopBound{2000};
    // The most requests run at once (EventServerLimits::workers).
    static constexpr std::uint32_t MaxWorkers = 4096;

    // Refuses a port that already answers on the listen address, or on 127.0.0.1 for every
    // interface (PortAlreadyInUseException), before it binds; port 0 binds a port the system
    // picks and skips that check. A listen address that is not one, or workers outside 1 to
    // MaxWorkers, is a PreconditionException. Bind and listen failures
    // throw SocketException subclasses. No thread runs before start.
    EventServer(const platform::thread::ThreadFactory* threads, std::uint16_t port,
                const EventServerLimits& limits, const ConnectionFactory* connections,
                EventServerLog* log, const EventServerAccess& access = {});
    EventServer(const EventServer&) = delete;
    EventServer& operator=(const EventServer&) = delete;
    // Stops the server if stop has not run.
    ~EventServer();

    // Starts the threads.
    void start();
    // Stops accepting and closes every connection that is not executing a request (an answer
    // under way gets half a second); running requests may finish and send their answers for at
    // most `bound`. Returns once every thread
    // has ended; a second call does nothing.
    void stop(std::chrono::milliseconds bound = DefaultStopBound);

    // The listening port: the one asked for, or the one the system chose for port 0.
    std::uint16_t localPort() const;
    std::size_t maxConnections() const;

    // The lower of 4 * workers + 1000 and the process's descriptor limit less a margin for the
    // descriptors the server itself needs.
    static std::size_t maxConnectionsFor(std::uint32_t workers);

private:
    class Road;
    std::unique_ptr<Road> _road;
};

}  // namespace net::server
