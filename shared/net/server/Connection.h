#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "net/socket/SocketStream.h"
#include "platform/mutex/BoundedBufferLock.h"
#include "platform/thread/InheritableThreadImpl.h"
#include "platform/thread/ThreadFactory.h"
#include "util/ThreadSafeMultiMap.h"

namespace net::server {

// Base of every connection class run by the ThreadServer: a thread whose body is the subclass's
// run, serving one accepted socket stream that it owns. The server creates the connection on its
// create-clients thread, attaches the stream and its queue of finished connections, and starts
// it; the connection's own thread calls quit exactly once as run ends (a MethodCaller0 guard on
// every exit path); the server's delete-clients thread then joins and deletes it. stop may be
// called from the server's stopping thread at any time while the connection lives.
class Connection : public platform::thread::InheritableThreadImpl {
public:
    // Every live connection of one server, keyed by its stream; guarded by the map's own lock.
    using Clients = util::ThreadSafeMultiMap<net::socket::SocketStream*, Connection*>;
    using Position = Clients::iterator;
    // Finished connections waiting for deletion, guarded by the server's finished-queue lock.
    using DeletableClients = std::vector<Position>;

    static constexpr const char* ThreadName = "ConnnectionThread";

    Connection(std::uint32_t id, const platform::thread::ThreadFactory* factory);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Deletes the stream, then (in the base) the thread; the thread must have been joined.
    ~Connection() override;

    // Asks the connection to end soon. Called from another thread than the connection's own.
    virtual void stop() = 0;

    // Reports the connection as finished: queues its position for the delete-clients thread.
    // Called once, on the connection's own thread, as the last thing run does.
    void quit();

    // Called by the server before start: hands over the accepted stream (deleting any stream the
    // connection had) and the server's bookkeeping. Nothing here is owned but the stream.
    void attach(std::unique_ptr<net::socket::SocketStream> stream, Clients* clients,
                DeletableClients* deletableClients, platform::mutex::BoundedBufferLock* finished,
                Position position);

    std::uint32_t id() const { return _id; }

protected:
    net::socket::SocketStream* stream() const { return _socketStream.get(); }

private:
    Clients* _clients = nullptr;
    DeletableClients* _deletableClients = nullptr;
    platform::mutex::BoundedBufferLock* _finished = nullptr;
    Position _position{};
    std::unique_ptr<net::socket::SocketStream> _socketStream;
    const std::uint32_t _id;
    bool _hasQuit = false;
};

}  // namespace net::server
