#pragma once

// Helpers of the client connection tests: a log that keeps every line, a loopback client on
// plain system calls (so a test can end its sending side, reset the connection or wait for an
// answer with a time limit), and the ClassifyServer on a free port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/Log.h"

namespace norvale::quillmark::testing {

using namespace std::chrono_literals;

struct LogLine {
    std::string level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

// Keeps every line with its level; tests wait for lines that other threads write.
class RecordingLog : public Log {
public:
    void log(const std::string& message) override { add("Log", message); }
    void error(const std::string& message) override { add("Error", message); }
    void test(const std::string& message) override { add("Test", message); }
    void assertionFailed(const std::string& expression, const std::string&, const std::string&,
                         int) override {
        add("Failure", expression);
    }
    using Log::error;
    using Log::log;
    using Log::test;

    std::vector<LogLine> lines() {
        std::lock_guard lock(_mutex);
        return _lines;
    }
    bool contains(const LogLine& line) {
        std::lock_guard lock(_mutex);
        return containsLocked(line);
    }
    // Waits at most 20 s until the line was written.
    bool waitFor(const LogLine& line) {
        std::unique_lock lock(_mutex);
        return _added.wait_for(lock, 20s, [&] { return containsLocked(line); });
    }

private:
    void add(const char* level, const std::string& message) {
        {
            std::lock_guard lock(_mutex);
            _lines.push_back({level, message});
        }
        _added.notify_all();
    }
    bool containsLocked(const LogLine& line) const {
        for (const LogLine& l : _lines) {
            if (l == line) return true;
        }
        return false;
    }

    std::mutex _mutex;
    std::condition_variable _added;
    std::vector<LogLine> _lines;
};

// One TCP connection to 127.0.0.1 with plain system calls. Failures show as results, never as
// exceptions, so a test states what it expects of them.
class RawClient {
public:
    // A receiveBuffer above 0 sets the socket's receive buffer size.
    explicit RawClient(std::uint16_t port, int receiveBuffer = 0)
        : _fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            ::setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        _connected = _fd >= 0 && ::connect(_fd, reinterpret_cast<sockaddr*>(&address),
                                           sizeof address) == 0;
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() {
        if (_fd >= 0) ::close(_fd);
    }

    bool connected() const { return _connected; }
    int fd() const { return _fd; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    // Ends the sending side: the request is complete.
    bool finish() { return ::shutdown(_fd, SHUT_WR) == 0; }
    bool request(std::string_view bytes) { return send(bytes) && finish(); }

    // Whether something (data or the end of the stream) can be read within timeout.
    bool readable(std::chrono::milliseconds timeout) {
        pollfd entry{_fd, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
    }

    // Everything the server sends until it ends its side; reset() tells whether the connection
    // was reset instead.
    std::string answer() {
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(_fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) _wasReset = true;
            if (n <= 0) return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    bool wasReset() const { return _wasReset; }

    // Closes so that the server sees a reset rather than an orderly end.
    void abort() {
        linger option{1, 0};
        ::setsockopt(_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        ::close(_fd);
        _fd = -1;
    }

private:
    int _fd;
    bool _connected = false;
    bool _wasReset = false;
};

// Makes request executions wait: hold blocks the calling thread until open is called, and
// waitForHolders lets the test wait until n executions are held. Gives up after 20 s.
class Gate {
public:
    void hold() const {
        std::unique_lock lock(_mutex);
        ++_holding;
        _changed.notify_all();
        _changed.wait_for(lock, 20s, [&] { return _open; });
    }
    void open() const {
        {
            std::lock_guard lock(_mutex);
            _open = true;
        }
        _changed.notify_all();
    }
    bool waitForHolders(int n) const {
        std::unique_lock lock(_mutex);
        return _changed.wait_for(lock, 20s, [&] { return _holding >= n; });
    }

private:
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    mutable int _holding = 0;
    mutable bool _open = false;
};

// A started ClassifyServer on a port the system picks; stopped when destroyed.
class RunningServer {
public:
    RunningServer(const ConnectionParams* params, std::uint32_t maxClients,
                  std::size_t maxConnections = 0)
        : _server(&_threads, 0, {maxClients, 1024, maxConnections}, params) {
        _server.start();
    }
    ~RunningServer() { _server.stop(); }

    std::uint16_t port() const { return _server.localPort(); }
    void stop() { _server.stop(); }

private:
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    ClassifyServer _server;
};

}  // namespace norvale::quillmark::testing
