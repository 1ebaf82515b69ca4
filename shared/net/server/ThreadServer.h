#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "debug/assertion.h"
#include "io/IOException.h"
#include "net/server/Connection.h"
#include "net/server/ThreadServerLog.h"
#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/ServerSocket.h"
#include "net/socket/ServerSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/BoundedBufferLockImpl.h"
#include "platform/mutex/Semaphore.h"
#include "platform/thread/MethodCaller1.h"
#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"
#include "platform/thread/ThreadException.h"
#include "platform/thread/ThreadFactory.h"
#include "posix/net/SocketErrors.h"

namespace net::server {

// Accepts TCP connections on one port and runs each on a thread of its own, with at most
// maxClients connections alive at a time (further clients wait in the listen backlog). Two
// service threads, both running this object's run: the create-clients thread accepts and starts
// connections of class C (constructible from (const ThreadFactory*, std::uint32_t id, P), derived
// from Connection); the delete-clients thread joins and deletes the connections that quit.
// One start-up thread constructs the server, starts createClientsThread() and then
// deleteClientsThread(), calls stop and destroys the server; it owns the connections throughout.
// Lock order: the finished-queue lock before the _clients lock.
template <class C, class P>
class ThreadServer : public platform::thread::Runnable {
public:
    static constexpr const char* CreateClientsThreadName = "CreateClientsThread";
    static constexpr const char* DeleteClientsThreadName = "DeleteClientsThread";

    // Refuses a port that already answers on 127.0.0.1 (PortAlreadyInUseException) before it
    // binds; port 0 binds a port the system picks and skips that check. Socket failures of the
    // bind and listen propagate. The service threads exist afterwards but are not started.
    // factory and log (may be null) are not owned and must outlive the server.
    ThreadServer(const platform::thread::ThreadFactory* factory, std::uint16_t port,
                 std::uint32_t maxClients, std::uint32_t queueSize, P parameters,
                 ThreadServerLog* log);
    ThreadServer(const ThreadServer&) = delete;
    ThreadServer& operator=(const ThreadServer&) = delete;
    // stop must have run if the service threads were started. Entries left in _clients point to
    // connections that stop has already deleted.
    ~ThreadServer() override = default;

    // Body of both service threads; on any other thread it returns at once.
    void run() override;

    // Stops accepting, asks every connection to stop, and returns once both service threads and
    // every connection have been joined and the connections deleted. A second call does nothing.
    void stop();

    platform::thread::Thread* createClientsThread() { return _createClientsThread.get(); }
    platform::thread::Thread* deleteClientsThread() { return _deleteClientsThread.get(); }

    // The listening port: the one asked for, or the one the system chose for port 0.
    std::uint16_t localPort() const { return _serverSocket->localPort(); }

private:
    using Clients = Connection::Clients;
    using Position = Connection::Position;
    using ClientsLock = platform::mutex::AutoLock<Clients>;

    void _checkPort();
    void _create_clients();
    void _acceptClient();
    void _delete_clients();
    // One element of the finished queue; false once the end marker was met.
    bool _deleteClient();
    void _erase(Position position);
    void _stopConnections();
    void _placeEndMarker();
    void _deleteRemainingConnections();
    void _report(const char* text);

    const platform::thread::ThreadFactory* _threadFactory;
    std::uint16_t _port;
    const std::uint32_t _queueSize;
    net::socket::ServerSocketFactoryImpl _serverSocketFactory;
    posix::net::SocketErrors _socketErrors;
    net::socket::SocketStreamFactoryImpl _streamFactory;
    ThreadServerLog* _log;
    platform::mutex::Semaphore _clientPermits;
    P _parameters;
    Clients _clients;
    std::uint32_t _clientCounter = 0;  // create-clients thread only
    Connection::DeletableClients _deletableClients;
    platform::mutex::BoundedBufferLockImpl _finishedQueue;  // guards _deletableClients
    std::unique_ptr<net::socket::ServerSocket> _serverSocket;
    std::unique_ptr<platform::thread::Thread> _createClientsThread;
    std::unique_ptr<platform::thread::Thread> _deleteClientsThread;
    std::uint32_t _create_clients_counter = 0;
    std::uint32_t _delete_clients_counter = 0;
    // Written by stop, read by the create loop between passes and by the delete loop.
    std::atomic<bool> _stop{false};
};

template <class C, class P>
ThreadServer<C, P>::ThreadServer(const platform::thread::ThreadFactory* factory, std::uint16_t port,
                                 std::uint32_t maxClients, std::uint32_t queueSize, P parameters,
                                 ThreadServerLog* log)
    : _threadFactory(factory),
      _port(port),
      _queueSize(queueSize),
      _serverSocketFactory(&_socketErrors, &_streamFactory),
      _streamFactory(&_socketErrors),
      _log(log),
      _clientPermits(maxClients, platform::mutex::Semaphore::Unnamed),
      _parameters(parameters),
      _finishedQueue(maxClients) {
    // Without a single permit nothing is ever served, and stop could never queue its end marker.
    if (maxClients == 0) {
        throw net::socket::PreconditionException(
            "The maximum number of clients must be at least 1.");
    }
    _deletableClients.reserve(maxClients);
    _checkPort();
    _serverSocket = _serverSocketFactory.create(_port, _queueSize);
    _createClientsThread = _threadFactory->create(this);
    _createClientsThread->setName(CreateClientsThreadName);
    _deleteClientsThread = _threadFactory->create(this);
    _deleteClientsThread->setName(DeleteClientsThreadName);
}

// SO_REUSEADDR lets a second server bind a port that another process still listens on, so a
// busy port is found by connecting to it rather than by a failing bind.
template <class C, class P>
void ThreadServer<C, P>::_checkPort() {
    if (_port == 0) return;
    net::socket::ClientSocketFactoryImpl clients(&_socketErrors, &_streamFactory);
    std::unique_ptr<net::socket::ClientSocket> client = clients.create();
    try {
        client->connect("127.0.0.1", _port);
    } catch (const net::socket::SocketException&) {
        return;
    }
    client.reset();
    throw net::socket::PortAlreadyInUseException("The port, " + std::to_string(_port) +
                                                 ", is already in use.");
}

template <class C, class P>
void ThreadServer<C, P>::run() {
    if (_createClientsThread->isCurrent()) {
        const bool first = _create_clients_counter++ == 0;
        QM_ASSERT_TEXT(first, "_create_clients_counter++ == 0",
                       "The create-clients loop was entered twice.");
        _create_clients();
    } else if (_deleteClientsThread->isCurrent()) {
        const bool first = _delete_clients_counter++ == 0;
        QM_ASSERT_TEXT(first, "_delete_clients_counter++ == 0",
                       "The delete-clients loop was entered twice.");
        _delete_clients();
    }
}

template <class C, class P>
void ThreadServer<C, P>::_create_clients() {
    while (!_stop.load()) {
        try {
            _acceptClient();
        } catch (const platform::thread::ThreadException& e) {
            _report(e.what());
        } catch (const io::IOException& e) {
            _report(e.what());
        } catch (const std::bad_alloc&) {
            _report("bad alloc in ThreadServer::_create_clients");
        }
    }
}

// One pass: a failure anywhere undoes it through the guards (the permit comes back, the map
// entry goes, the stream and the connection are deleted) and the client is dropped.
template <class C, class P>
void ThreadServer<C, P>::_acceptClient() {
    using platform::mutex::Semaphore;
    using platform::thread::MethodCaller1;
    _clientPermits.wait();
    MethodCaller1<Semaphore, std::int32_t> permit(&_clientPermits, &Semaphore::release, 1);
    std::unique_ptr<net::socket::SocketStream> stream = _serverSocket->accept();
    auto connection = std::make_unique<C>(_threadFactory, ++_clientCounter, _parameters);
    ClientsLock lock(&_clients);
    const Position position = _clients.insert({stream.get(), connection.get()});
    MethodCaller1<ThreadServer, Position> entry(this, &ThreadServer::_erase, position);
    connection->attach(std::move(stream), &_clients, &_deletableClients, &_finishedQueue, position);
    connection->start();
    entry.disarm();
    permit.disarm();
    connection.release();  // owned through _clients from here on
}

template <class C, class P>
void ThreadServer<C, P>::_erase(Position position) {
    _clients.erase(position);
}

template <class C, class P>
void ThreadServer<C, P>::_delete_clients() {
    while (_deleteClient()) {
    }
}

template <class C, class P>
bool ThreadServer<C, P>::_deleteClient() {
    using platform::mutex::BoundedBufferLock;
    _finishedQueue.beginTake();
    platform::thread::MethodCaller1<BoundedBufferLock, bool> taken(
        &_finishedQueue, &BoundedBufferLock::endTake, true);
    ClientsLock lock(&_clients);
    QM_ASSERT(_deletableClients.size() != 0, "The finished queue was signalled but is empty.");
    const Position position = _deletableClients.back();
    _deletableClients.pop_back();
    if (position == _clients.end()) {
        QM_ASSERT_TEXT(_stop.load(), "_stop", "The end marker was queued before stop.");
        return false;
    }
    Connection* connection = position->second;
    connection->join();
    delete connection;
    const std::size_t clientSize = _clients.size();
    _clients.erase(position);
    QM_ASSERT(clientSize - 1 == _clients.size(), "A deleted connection stayed in the map.");
    _clientPermits.release(1);
    return true;
}

template <class C, class P>
void ThreadServer<C, P>::stop() {
    if (_stop.exchange(true)) return;
    try {
        _serverSocket->close();
    } catch (const net::socket::SocketException& e) {
        // The shutdown before the close has already woken the accept; carry on stopping.
        _report(e.what());
    }
    _clientPermits.release(1);
    _createClientsThread->join();
    _stopConnections();
    _placeEndMarker();
    _deleteClientsThread->join();
    _deleteRemainingConnections();
}

template <class C, class P>
void ThreadServer<C, P>::_stopConnections() {
    ClientsLock lock(&_clients);
    for (auto& [stream, connection] : _clients) connection->stop();
}

// The delete loop takes from the back, so every connection queued before or after the marker is
// deleted before the loop meets the marker at the front and ends.
template <class C, class P>
void ThreadServer<C, P>::_placeEndMarker() {
    using platform::mutex::BoundedBufferLock;
    _finishedQueue.beginPut();
    platform::thread::MethodCaller1<BoundedBufferLock, bool> put(&_finishedQueue,
                                                                 &BoundedBufferLock::endPut, true);
    ClientsLock lock(&_clients);
    const std::size_t beforeSize = _deletableClients.size();
    _deletableClients.insert(_deletableClients.begin(), _clients.end());
    QM_ASSERT(beforeSize + 1 == _deletableClients.size(), "The end marker was not queued.");
}

// Connections that had not quit when the delete loop met the marker.
template <class C, class P>
void ThreadServer<C, P>::_deleteRemainingConnections() {
    ClientsLock lock(&_clients);
    for (auto& [stream, connection] : _clients) {
        connection->join();
        delete connection;
    }
}

template <class C, class P>
void ThreadServer<C, P>::_report(const char* text) {
    if (_log != nullptr) _log->report(text);
}

}  // namespace net::server
