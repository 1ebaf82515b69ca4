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
struct LoopbackPair {
    posix::net::SocketErrors errors;
    SocketStreamFactoryImpl streams{&errors};
    ServerSocketFactoryImpl servers{&errors, &streams};
    ClientSocketFactoryImpl clients{&errors, &streams};
    std::unique_ptr<ServerSocket> server = servers.create(0, 16);
    std::unique_ptr<ClientSocket> clientSocket = clients.create();
    SocketStream* client = clientSocket->connect("127.0.0.1", server->localPort());
    std::unique_ptr<SocketStream> accepted = server->accept();
};

// Everything until the peer ends its sending side.
inline std::string drain(SocketStream* stream) {
    std::string text;
    char buffer[4096];
    while (const int n = stream->readSome(buffer, sizeof buffer)) text.append(buffer, n);
    return text;
}

}  // namespace net::socket::test_support
