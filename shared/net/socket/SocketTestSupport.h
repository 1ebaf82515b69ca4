#pragma once

// Helpers of the socket tests.

#include <memory>
#include <string>

#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/ServerSocketFactoryImpl.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "posix/net/SocketErrors.h"

namespace net::socket::test_support {

// A listening socket on a port the system picks and one connection to it over 127.0.0.1, built
// from the production factories. No thread is needed: the connection completes in the listen
// backlog before accept is called.
struct LoopbackFactories {
    posix::net::SocketErrors errors;
    SocketStreamFactoryImpl streams{&errors};
    ServerSocketFactoryImpl servers{&errors, &streams};
    ClientSocketFactoryImpl clients{&errors, &streams};
};

struct LoopbackPair {
    LoopbackFactories factories;
    std::unique_ptr<ServerSocket> server = factories.servers.create(0, 16);
    std::unique_ptr<ClientSocket> clientSocket = factories.clients.create();
    SocketStream* client = clientSocket->connect("127.0.0.1", server->localPort());
    std::unique_ptr<SocketStream> accepted = server->accept();
};

}  // namespace net::socket::test_support
