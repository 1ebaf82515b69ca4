// Connections per second through ThreadServer with a trivial echo connection, next to a bare
// accept/recv/send/close loop on one thread, in the same run and with the same client: connect
// over 127.0.0.1, send 16 bytes, shut down the sending side, read the echo until the end of the
// stream, close. Run with 1 and with 4 client threads; times are wall-clock.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "net/server/Connection.h"
#include "net/server/ThreadServer.h"
#include "net/socket/SocketExceptions.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/MethodCaller0.h"
#include "platform/thread/OsInfoImpl.h"

namespace {

constexpr char Request[] = "0123456789abcdef";
constexpr std::uint32_t MaxClients = 8;
constexpr std::uint32_t Backlog = 128;

void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// Echoes what it read once the client has ended its sending side.
class EchoConnection : public net::server::Connection {
public:
    EchoConnection(const platform::thread::ThreadFactory* factory, std::uint32_t id, int)
        : Connection(id, factory) {}

    void run() override {
        platform::thread::MethodCaller0<Connection> finished(this, &Connection::quit);
        try {
            char buffer[256];
            std::uint32_t size = 0;
            int n;
            while ((n = stream()->readSome(buffer + size, sizeof buffer - size)) > 0) {
                size += static_cast<std::uint32_t>(n);
            }
            stream()->write(buffer, size);
            stream()->shutdown(net::socket::SocketStream::Send);
        } catch (const net::socket::SocketException&) {
        }
    }
    void stop() override {
        try {
            stream()->shutdown(net::socket::SocketStream::Receive);
        } catch (const net::socket::SocketException&) {
        }
    }
};

// The same exchange on one thread with plain system calls.
class BareServer {
public:
    BareServer() {
        _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (_listener < 0 ||
            ::bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(_listener, Backlog) != 0) {
            fail("bare server");
        }
        socklen_t length = sizeof address;
        ::getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length);
        _port = ntohs(address.sin_port);
        _thread = std::thread([this] { serve(); });
    }
    ~BareServer() {
        ::shutdown(_listener, SHUT_RDWR);
        _thread.join();
        ::close(_listener);
    }
    std::uint16_t port() const { return _port; }

private:
    void serve() {
        for (;;) {
            const int client = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            char buffer[256];
            std::size_t size = 0;
            ssize_t n;
            while ((n = ::recv(client, buffer + size, sizeof buffer - size, 0)) > 0) size += n;
            ::send(client, buffer, size, MSG_NOSIGNAL);
            ::close(client);
        }
    }

    int _listener;
    std::uint16_t _port;
    std::thread _thread;
};

struct Servers {
    platform::thread::OsInfoImpl os;
    platform::thread::LoggingThreadFactoryImpl threads{&os, nullptr};
    net::server::ThreadServer<EchoConnection, int> threadServer{&threads, 0, MaxClients,
                                                                Backlog,  0, nullptr};
    BareServer bare;

    Servers() {
        threadServer.createClientsThread()->start();
        threadServer.deleteClientsThread()->start();
    }
    ~Servers() { threadServer.stop(); }
};

Servers* servers = nullptr;

void exchange(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail("connect");
    }
    if (::send(fd, Request, sizeof Request - 1, MSG_NOSIGNAL) != sizeof Request - 1) fail("send");
    ::shutdown(fd, SHUT_WR);
    char buffer[64];
    std::size_t received = 0;
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) received += n;
    if (received != sizeof Request - 1) fail("echo");
    ::close(fd);
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Besides the rate, the CPU time of the whole process (clients and server) per connection: it
// shows the cost of the server's extra threads even when other work on the machine makes the
// wall-clock rate noisy.
void connections(benchmark::State& state, std::uint16_t port) {
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) exchange(port);
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        const double total = static_cast<double>(state.iterations()) * state.threads();
        state.counters["cpu_us_per_conn"] = (processCpuSeconds() - cpuBefore) * 1e6 / total;
    }
}

void BM_BareAcceptLoop(benchmark::State& state) {
    connections(state, servers->bare.port());
}

void BM_ThreadServer(benchmark::State& state) {
    connections(state, servers->threadServer.localPort());
}

// Iterations are capped so that connections left in TIME_WAIT never use up the local ports.
BENCHMARK(BM_BareAcceptLoop)->UseRealTime()->Iterations(2000)->Threads(1)->Threads(4);
BENCHMARK(BM_ThreadServer)->UseRealTime()->Iterations(2000)->Threads(1)->Threads(4);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    {
        Servers running;
        servers = &running;
        benchmark::RunSpecifiedBenchmarks();
        servers = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
