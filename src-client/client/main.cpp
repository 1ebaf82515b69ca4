// quillmark: the command-line client of Quillmark Server.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "client/CommandRunner.h"
#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketInitializerImpl.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "posix/net/SocketErrors.h"
#include "xml/ComInitializer.h"

namespace {

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace norvale::quillmark::client;
    std::ios::sync_with_stdio(false);
    try {
        const net::socket::SocketInitializerImpl socketLayer;
        const xml::ComInitializer xmlLayer;
        const posix::net::SocketErrors errors;
        net::socket::SocketStreamFactoryImpl streams(&errors);
        net::socket::ClientSocketFactoryImpl sockets(&errors, &streams);
        const Environment environment{
            &std::cin,        &std::cout,
            &std::cerr,       ::isatty(STDERR_FILENO) == 1,
            monotonicSeconds, [](const char* name) { return std::getenv(name); }};
        const int status =
            runClient(std::vector<std::string>(argv + 1, argv + argc), &sockets, environment);
        std::cout.flush();
        return status;
    } catch (const exceptions::Exception& e) {
        std::cerr << "quillmark: " << e.what() << '\n';
        return exitStatus::Unreachable;
    }
}
