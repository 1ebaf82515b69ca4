// quillmark: the command-line client of Quillmark Server.

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "client/CommandRunner.h"
#include "io/filesystem/FileDescriptor.h"
#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketInitializerImpl.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "posix/net/SocketErrors.h"
#include "xml/ComInitializer.h"

namespace {

volatile std::sig_atomic_t interruptRequested = 0;
// The write end of the pipe that wakes a read of an input waiting for bytes; -1 without one.
int interruptWriter = -1;

extern "C" void onInterrupt(int) {
    interruptRequested = 1;
    const int error = errno;
    const char byte = 1;
    if (interruptWriter >= 0 && ::write(interruptWriter, &byte, 1) < 0) {
        // Full or closed: the job stops at its next question all the same.
    }
    errno = error;
}

// Ctrl-C is caught only once a job of many texts first asks, so that it still ends every other
// command at once; the handler goes with its first call, so a second Ctrl-C ends the client.
// Blocking calls are restarted: the requests in flight get their answers. A read of an input
// waits in poll(2) beside the pipe the handler writes to, so the first Ctrl-C ends it.
bool interrupted() {
    static const bool caught = [] {
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGINT, &action, nullptr) == 0;
    }();
    return caught && interruptRequested != 0;
}

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace norvale::quillmark::client;
    // Requests and answers of a bulk job are built and parsed again and again on the window's
    // workers: keep their memory instead of handing it back to the system after each one
    // (mapping, trimming and faulting it in again cost more CPU than the parsing of an answer).
    // A client runs one job; it may hold a few requests' worth more than it uses.
    ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    std::ios::sync_with_stdio(false);
    try {
        const net::socket::SocketInitializerImpl socketLayer;
        const xml::ComInitializer xmlLayer;
        const posix::net::SocketErrors errors;
        net::socket::SocketStreamFactoryImpl streams(&errors);
        net::socket::ClientSocketFactoryImpl sockets(&errors, &streams);
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
        }
        const io::filesystem::FileDescriptor interruptReader(ends[0]);
        // The write end stays open until the process ends: the handler may write to it until
        // then.
        interruptWriter = ends[1];
        Environment environment{
            &std::cin,        &std::cout,
            &std::cerr,       ::isatty(STDERR_FILENO) == 1,
            monotonicSeconds, [](const char* name) { return std::getenv(name); },
            interrupted};
        environment.inDescriptor = STDIN_FILENO;
        environment.interruptDescriptor = interruptReader.get();
        const int status =
            runClient(std::vector<std::string>(argv + 1, argv + argc), &sockets, environment);
        std::cout.flush();
        return status;
    } catch (const exceptions::Exception& e) {
        std::cerr << "quillmark: " << e.what() << '\n';
        return exitStatus::Unreachable;
    } catch (const std::bad_alloc&) {
        std::cerr << "quillmark: out of memory.\n";
        return exitStatus::LocalFailure;
    } catch (const std::exception& e) {
        std::cerr << "quillmark: " << e.what() << '\n';
        return exitStatus::LocalFailure;
    }
}
