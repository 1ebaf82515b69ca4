#pragma once

// Helpers of the socket tests.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

// A fresh folder for the assertion report of a death test; the failing statement runs after
// enterForDeath() so "assertion.txt" lands there and never in the build tree.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name)
        : _path(std::filesystem::temp_directory_path() /
                ("qm_socket_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(_path);
        std::filesystem::create_directories(_path);
    }
    ~ScratchDir() { std::filesystem::remove_all(_path); }

    void enterForDeath() const {
        if (::chdir(_path.c_str()) != 0) std::_Exit(3);
    }

private:
    std::filesystem::path _path;
};

}  // namespace net::socket::test_support
