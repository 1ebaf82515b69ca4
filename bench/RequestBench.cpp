// Requests per second through the whole server road over loopback: connect, send one request,
// end the sending side, read the answer to the end of the stream, close. Every server in the run
// is the same ThreadServer<ClassifyConnection, const ConnectionParams*>; they differ only in the
// StringClassifierFactory behind the connection. The baseline answers a fixed document without
// looking at the request, so the ratio of the two rates is the cost of request execution itself.
// Run with 1, 8 and 32 client threads; times are wall-clock.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "net/server/ThreadServer.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "server/ClassifyConnection.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/Log.h"

namespace {

using namespace norvale::quillmark;

constexpr std::uint32_t MaxClients = 64;
constexpr std::uint32_t Backlog = 128;

void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The connection's four lines per request cost the same for every server; a discarding log keeps
// the disk out of the comparison.
class DiscardingLog : public Log {
public:
    void log(const std::string&) override {}
    void error(const std::string&) override {}
    void test(const std::string&) override {}
    void assertionFailed(const std::string&, const std::string&, const std::string&,
                         int) override {}
};

// Answers every request with the same document, without parsing it.
class FixedDocumentClassifierFactory : public StringClassifierFactory {
public:
    explicit FixedDocumentClassifierFactory(std::string document) : _document(std::move(document)) {}

    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Fixed>(&_document);
    }

private:
    class Fixed : public StringClassifier {
    public:
        explicit Fixed(const std::string* document) : _document(document) {}
        std::string process(const std::string&) override { return *_document; }

    private:
        const std::string* _document;
    };

    std::string _document;
};

const char* const FixedDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<quillmark xmlns=\"urn:quillmark:bench\" version=\"1.00\">\n"
    "\t<status success=\"true\" statusCode=\"2000\"/>\n"
    "\t<readCalls>\n"
    "\t\t<classify id=\"1\">\n"
    "\t\t\t<class name=\"spam\" p=\"0.25\"/>\n"
    "\t\t\t<class name=\"ham\" p=\"0.75\"/>\n"
    "\t\t</classify>\n"
    "\t</readCalls>\n"
    "</quillmark>";

// One server of the run: its params and the thread server that uses them.
class Server {
public:
    Server(const StringClassifierFactory* classifiers, Log* log)
        : _params{widenMaxInput(-1), log, classifiers, &_errors, nullptr,
                  ConnectionParams::DefaultIdleTimeout, ConnectionParams::DefaultRequestTimeout},
          _server(&_threads, 0, MaxClients, Backlog, &_params, nullptr) {
        _server.createClientsThread()->start();
        _server.deleteClientsThread()->start();
    }
    ~Server() { _server.stop(); }

    std::uint16_t port() const { return _server.localPort(); }

private:
    platform::thread::OsInfoImpl _os;
    platform::thread::LoggingThreadFactoryImpl _threads{&_os, nullptr};
    ErrorResponseFactoryImpl _errors{"urn:quillmark:bench", "1.00"};
    ConnectionParams _params;
    net::server::ThreadServer<ClassifyConnection, const ConnectionParams*> _server;
};

struct Servers {
    DiscardingLog log;
    FixedDocumentClassifierFactory fixedClassifiers{FixedDocument};
    Server fixed{&fixedClassifiers, &log};
};

Servers* servers = nullptr;

// One request; the answer must start with the expected status.
void exchange(std::uint16_t port, const std::string& request, const char* expectedStatus) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail("connect");
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) fail("send");
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, n);
    ::close(fd);
    if (answer.find(expectedStatus) == std::string::npos) {
        std::fprintf(stderr, "unexpected answer: %s\n", answer.c_str());
        std::exit(1);
    }
}

void BM_FixedDocument(benchmark::State& state) {
    const std::string request = "<quillmark/>";
    for (auto _ : state) exchange(servers->fixed.port(), request, "statusCode=\"2000\"");
    state.SetItemsProcessed(state.iterations());
}

// Iterations per client thread are capped so that connections left in TIME_WAIT never use up
// the local ports.
BENCHMARK(BM_FixedDocument)->UseRealTime()->Iterations(2000)->Threads(1);
BENCHMARK(BM_FixedDocument)->UseRealTime()->Iterations(400)->Threads(8);
BENCHMARK(BM_FixedDocument)->UseRealTime()->Iterations(100)->Threads(32);

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
