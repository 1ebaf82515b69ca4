// The connection road against the cheapest possible server, in one run:
//
//   ConnectionRoadBench [--rounds=2] [--requests=1200]
//       classify requests of one short text (about 100 bytes) and of one 2 KiB text with 1, 8
//       and 32 client threads, each request one fresh loopback connection (connect, send, end
//       the sending side, read the answer to the end, close), against
//         road  the real server (ClassifyServer over request execution, 32 workers, a trained
//               classifier of two classes), and
//         bare  a thread-per-connection loop in plain system calls in this process that reads
//               each request to its end and answers with the very document the real server
//               gives to it,
//       alternating bare and road `rounds` times per case with about `requests` requests each.
//       Prints requests/s, p50 and p99 latency (wall clock, nearest rank) per server and the
//       ratios road/bare. Exits with 1 when an answer differs from the expected document.
//
//   ConnectionRoadBench --idle-connections=N
//       the real server's resident memory (VmRSS) before and with N idle connections open, held
//       by a child process so that both ends fit the descriptor limit (idle and request
//       deadlines of ten minutes, so that none is dropped while the others connect).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DiscardingLog.h"
#include "load/LatencySummary.h"
#include "load/LoopbackClient.h"
#include "testing/InProcessServer.h"
#include "testing/Requests.h"

namespace {

using namespace norvale::quillmark;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t Workers = 32;  // maxClients of the shipped config.xml
constexpr int Backlog = 128;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

std::string temporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_road_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    std::filesystem::create_directories(pattern + "/classifiers");
    std::filesystem::create_directories(pattern + "/locks");
    return pattern;
}

// Words of 3 to 9 letters from a fixed pseudo-random sequence.
std::string words(std::uint32_t seed, std::size_t bytes) {
    std::string text;
    std::uint32_t state = seed * 2654435761u + 1;
    while (text.size() < bytes) {
        state = state * 1664525u + 1013904223u;
        const int length = 3 + static_cast<int>(state >> 28) % 7;
        for (int i = 0; i < length; ++i) {
            state = state * 1664525u + 1013904223u;
            text += static_cast<char>('a' + (state >> 24) % 26);
        }
        text += ' ';
    }
    return text;
}

std::string ask(std::uint16_t port, const std::string& request) {
    return bench::load::LoopbackClient(port).exchange(request);
}

// The real server over a temporary classifier folder with classifier "road": two classes, each
// trained with 50 texts of 2 KiB.
class RoadServer {
public:
    explicit RoadServer(std::size_t maxConnections = 0,
                        std::chrono::milliseconds readDeadline = std::chrono::milliseconds(0))
        : _folder(temporaryFolder()),
          _server(_folder + "/classifiers", _folder + "/locks", &_log,
                  {Workers, maxConnections, readDeadline}) {
        expect(ask(port(), testing::createRequest("road", {"spam", "ham"})));
        for (int cls = 0; cls < 2; ++cls) {
            std::vector<std::string> texts;
            for (int i = 0; i < 50; ++i) texts.push_back(words(cls * 1000 + i, 2048));
            expect(ask(port(), testing::trainRequest("road", cls == 0 ? "spam" : "ham", texts)));
        }
    }
    ~RoadServer() {
        _server.stop();
        std::filesystem::remove_all(_folder);
    }

    std::uint16_t port() const { return _server.port(); }

    static std::string expect(const std::string& answer) {
        if (testing::statusOf(answer) != 2000) {
            std::fprintf(stderr, "unexpected answer: %s\n", answer.c_str());
            std::exit(1);
        }
        return answer;
    }

private:
    bench::DiscardingLog _log;
    std::string _folder;
    testing::InProcessServer _server;
};

// One thread accepts; every connection gets a thread of its own that reads the request to its
// end, sends the document and closes.
class BareServer {
public:
    BareServer() {
        _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (_listener < 0 ||
            ::bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(_listener, Backlog) != 0) {
            fail("bare server");
        }
        socklen_t length = sizeof address;
        ::getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length);
        _port = ntohs(address.sin_port);
        _acceptor = std::thread([this] { acceptLoop(); });
    }
    ~BareServer() {
        ::shutdown(_listener, SHUT_RDWR);
        _acceptor.join();
        std::unique_lock lock(_mutex);
        _idle.wait(lock, [this] { return _running == 0; });
        ::close(_listener);
    }

    std::uint16_t port() const { return _port; }
    // Set between runs only.
    void answerWith(const std::string* document) { _document.store(document); }

private:
    void acceptLoop() {
        for (;;) {
            const int client = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            {
                std::lock_guard lock(_mutex);
                ++_running;
            }
            std::thread([this, client] { serve(client); }).detach();
        }
    }

    void serve(int client) {
        char buffer[16384];
        while (::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        const std::string* document = _document.load();
        for (std::size_t sent = 0; sent < document->size();) {
            const ssize_t n =
                ::send(client, document->data() + sent, document->size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        ::close(client);
        std::lock_guard lock(_mutex);
        if (--_running == 0) _idle.notify_all();
    }

    int _listener = -1;
    std::uint16_t _port = 0;
    std::atomic<const std::string*> _document{nullptr};
    std::thread _acceptor;
    std::mutex _mutex;  // guards _running
    std::condition_variable _idle;
    int _running = 0;
};

struct Figures {
    bench::load::LatencySummary latencies;
    std::size_t requests = 0;
    double seconds = 0;

    double rate() const { return seconds > 0 ? static_cast<double>(requests) / seconds : 0; }
};

// `perThread` exchanges on each of `threads` client threads; every answer must be `expected`.
void run(std::uint16_t port, const std::string& request, const std::string& expected, int threads,
         int perThread, Figures& figures) {
    std::vector<bench::load::LatencySummary> latencies(static_cast<std::size_t>(threads));
    std::atomic<int> wrong{0};
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const auto begin = Clock::now();
                if (ask(port, request) != expected) ++wrong;
                latencies[static_cast<std::size_t>(t)].add(
                    std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
            }
        });
    }
    for (std::thread& client : clients) client.join();
    figures.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    figures.requests += static_cast<std::size_t>(threads) * static_cast<std::size_t>(perThread);
    for (const auto& part : latencies) figures.latencies.merge(part);
    if (wrong.load() != 0) {
        std::fprintf(stderr, "%d answers differ from the expected document\n", wrong.load());
        std::exit(1);
    }
}

int option(int argc, char** argv, const char* name, int fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return std::atoi(argv[i] + prefix.size());
        }
    }
    return fallback;
}

void compare(int rounds, int requests) {
    RoadServer road;
    BareServer bare;
    struct Case {
        const char* name;
        std::string request;
        std::string answer;
    };
    std::vector<Case> cases;
    for (const auto& [name, bytes] : {std::pair{"short", std::size_t(100)}, {"2KiB", 2048}}) {
        const std::string request = testing::classifyRequest("road", words(7, bytes));
        cases.push_back({name, request, RoadServer::expect(ask(road.port(), request))});
    }
    std::printf("%-6s %7s  %10s %9s %9s  %10s %9s %9s  %10s %10s\n", "text", "clients",
                "bare req/s", "p50 us", "p99 us", "road req/s", "p50 us", "p99 us", "rate ratio",
                "p99 ratio");
    for (const Case& c : cases) {
        bare.answerWith(&c.answer);
        for (const int threads : {1, 8, 32}) {
            const int perThread = std::max(1, requests / threads);
            Figures bareFigures;
            Figures roadFigures;
            for (int round = 0; round < rounds; ++round) {
                run(bare.port(), c.request, c.answer, threads, perThread, bareFigures);
                run(road.port(), c.request, c.answer, threads, perThread, roadFigures);
            }
            const double bareP99 = bareFigures.latencies.percentile(99);
            const double roadP99 = roadFigures.latencies.percentile(99);
            std::printf("%-6s %7d  %10.0f %9.0f %9.0f  %10.0f %9.0f %9.0f  %10.2f %10.2f\n", c.name,
                        threads, bareFigures.rate(), bareFigures.latencies.percentile(50), bareP99,
                        roadFigures.rate(), roadFigures.latencies.percentile(50), roadP99,
                        roadFigures.rate() / bareFigures.rate(), roadP99 / bareP99);
            std::fflush(stdout);
        }
    }
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A child process opens the connections and keeps them until the parent closes the pipe.
void idleConnections(int count) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    // Connecting ten thousand clients can take longer than the idle deadline on a busy machine.
    RoadServer road(static_cast<std::size_t>(count) + 100, std::chrono::minutes(10));
    RoadServer::expect(ask(road.port(), testing::classifyRequest("road", words(7, 100))));
    const long before = residentKilobytes();
    const std::size_t descriptorsBefore = openDescriptors();
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) fail("pipe");
    const auto connecting = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) fail("fork");
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        // Non-blocking connects in batches no larger than the backlog, so that no connect
        // waits for a retransmitted SYN.
        std::vector<pollfd> held;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(road.port());
        while (static_cast<int>(held.size()) < count) {
            const std::size_t batch = held.size();
            for (int i = 0; i < Backlog / 2 && static_cast<int>(held.size()) < count; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                if (fd < 0 ||
                    (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                     errno != EINPROGRESS)) {
                    std::perror("connect");
                    ::_exit(1);
                }
                held.push_back({fd, POLLOUT, 0});
            }
            // Every connect of the batch completes before the next batch starts.
            for (std::size_t left = held.size() - batch; left > 0;) {
                const int ready = ::poll(held.data() + batch, held.size() - batch, 10000);
                if (ready <= 0) ::_exit(1);
                for (std::size_t i = batch; i < held.size(); ++i) {
                    if (held[i].revents != 0) {
                        held[i].events = 0;
                        held[i].revents = 0;
                        --left;
                    }
                }
            }
        }
        char done = 1;
        if (::write(ready[1], &done, 1) != 1) ::_exit(1);
        ::read(release[0], &done, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char done = 0;
    if (::read(ready[0], &done, 1) != 1) fail("the child did not connect");
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    while (openDescriptors() < descriptorsBefore + static_cast<std::size_t>(count) &&
           Clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::size_t accepted = openDescriptors() - descriptorsBefore;
    std::printf("connected in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - connecting).count());
    const long with = residentKilobytes();
    std::printf(
        "idle connections %zu (asked %d): VmRSS %ld kB before, %ld kB with them open, "
        "%.1f kB per connection\n",
        accepted, count, before, with,
        static_cast<double>(with - before) / static_cast<double>(count));
    RoadServer::expect(ask(road.port(), testing::classifyRequest("road", words(7, 100))));
    ::close(release[1]);
    ::waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const int idle = option(argc, argv, "idle-connections", 0);
    if (idle > 0) {
        idleConnections(idle);
    } else {
        compare(option(argc, argv, "rounds", 2), option(argc, argv, "requests", 1200));
    }
    return 0;
}
