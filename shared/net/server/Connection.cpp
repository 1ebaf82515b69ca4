#include "net/server/Connection.h"

#include "debug/assertion.h"

namespace net::server {

using platform::mutex::BoundedBufferLock;

Connection::Connection(std::uint32_t id, const platform::thread::ThreadFactory* factory)
    : InheritableThreadImpl(factory), _id(id) {
    setName(ThreadName);
}

Connection::~Connection() {
    _socketStream.reset();
}

void Connection::attach(std::unique_ptr<net::socket::SocketStream> stream, Clients* clients,
                        DeletableClients* deletableClients, BoundedBufferLock* finished,
                        Position position) {
    _socketStream = std::move(stream);
    _clients = clients;
    _deletableClients = deletableClients;
    _finished = finished;
    _position = position;
}

void Connection::quit() {
    QM_ASSERT(!_hasQuit, "A connection reported itself finished twice.");
    _hasQuit = true;
    _finished->beginPut();
    // Room for every connection the server may run at once was reserved up front, so the append
    // below never allocates and reporting the end of a connection cannot fail.
    QM_ASSERT(_deletableClients->capacity() > _deletableClients->size(),
              "The queue of finished connections is full.");
    const std::size_t beforeSize = _deletableClients->size();
    _deletableClients->push_back(_position);
    QM_ASSERT(beforeSize + 1 == _deletableClients->size(),
              "A finished connection was not added to the queue.");
    _finished->endPut(true);
}

}  // namespace net::server
