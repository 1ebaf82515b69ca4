#pragma once

// Helpers of the thread server tests: a connection class that answers "<id>:<request>", the
// record it keeps of its life, a log that keeps every report, and a loopback client.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "io/IOException.h"
#include "net/server/Connection.h"
#include "net/server/ThreadServerLog.h"
#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/MethodCaller0.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "posix/net/SocketErrors.h"

namespace net::server::test_support {

using namespace std::chrono_literals;

// What the connections of one server did, shared by all of them (the server's parameter block).
class Probe {
public:
    enum class Failure { None, BadAlloc, IO };

    // Waits until check() holds, at most 20 s; returns whether it held.
    bool waitUntil(const std::function<bool()>& check) {
        std::unique_lock lock(_mutex);
        return _changed.wait_for(lock, 20s, check);
    }
    template <class F>
    auto read(F f) {
        std::lock_guard lock(_mutex);
        return f();
    }
    template <class F>
    void change(F f) {
        {
            std::lock_guard lock(_mutex);
            f();
        }
        _changed.notify_all();
    }

    // Set before the server starts; read by the create-clients thread.
    std::map<std::uint32_t, Failure> failOnCreate;
    // How long a connection that was asked to stop waits before it ends.
    std::chrono::milliseconds lingerAfterStop{0};

    // Guarded by the probe's mutex (read and change).
    std::vector<std::uint32_t> created;
    std::map<std::uint32_t, std::size_t> destroyedBeforeCreation;  // id -> deletions seen
    std::vector<std::uint32_t> destroyed;
    std::map<std::uint32_t, std::string> deletedOn;  // id -> name of the deleting thread
    std::map<std::uint32_t, std::string> ranOn;      // id -> name of the connection's thread
    std::vector<std::uint32_t> stopped;
    std::vector<std::uint32_t> quit;

private:
    std::mutex _mutex;
    std::condition_variable _changed;
};

// Reads the request until the client ends its sending side (or stop shuts the receiving side),
// then answers "<id>:<request>" and ends its own sending side.
class EchoConnection : public Connection {
public:
    EchoConnection(const platform::thread::ThreadFactory* factory, std::uint32_t id, Probe* probe)
        : Connection(id, factory), _probe(probe) {
        failIfAsked();
        _probe->change([&] {
            _probe->created.push_back(id);
            _probe->destroyedBeforeCreation[id] = _probe->destroyed.size();
        });
    }
    ~EchoConnection() override {
        _probe->change([&] {
            _probe->destroyed.push_back(id());
            _probe->deletedOn[id()] = platform::thread::currentThreadName();
        });
    }

    void run() override {
        _probe->change([&] { _probe->ranOn[id()] = platform::thread::currentThreadName(); });
        platform::thread::MethodCaller0<EchoConnection> finished(this, &EchoConnection::finish);
        try {
            serve();
        } catch (const net::socket::SocketException&) {
            // The client left early; nothing to answer.
        }
    }

    void stop() override {
        _stopRequested.store(true);
        _probe->change([&] { _probe->stopped.push_back(id()); });
        try {
            stream()->shutdown(net::socket::SocketStream::Receive);
        } catch (const net::socket::SocketException&) {
            // Already disconnected.
        }
    }

private:
    void failIfAsked() {
        const auto failure = _probe->failOnCreate.find(id());
        if (failure == _probe->failOnCreate.end()) return;
        if (failure->second == Probe::Failure::BadAlloc) throw std::bad_alloc();
        if (failure->second == Probe::Failure::IO) {
            throw io::IOException("Connection " + std::to_string(id()) + " refused.");
        }
    }

    void serve() {
        std::string request;
        char buffer[4096];
        for (;;) {
            const int n = stream()->readSome(buffer, sizeof buffer);
            if (n == 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        if (_stopRequested.load()) std::this_thread::sleep_for(_probe->lingerAfterStop);
        const std::string answer = std::to_string(id()) + ":" + request;
        stream()->write(answer.data(), static_cast<std::uint32_t>(answer.size()));
        stream()->shutdown(net::socket::SocketStream::Send);
    }

    void finish() {
        _probe->change([&] { _probe->quit.push_back(id()); });
        quit();
    }

    Probe* _probe;
    std::atomic<bool> _stopRequested{false};
};

class RecordingLog : public ThreadServerLog {
public:
    void report(const char* text) override {
        std::lock_guard lock(_mutex);
        _reports.emplace_back(text);
    }
    std::vector<std::string> reports() {
        std::lock_guard lock(_mutex);
        return _reports;
    }

private:
    std::mutex _mutex;
    std::vector<std::string> _reports;
};

// One client connection over 127.0.0.1, built from the production socket classes.
class Client {
public:
    explicit Client(std::uint16_t port) : _socket(_clients.create()) {
        _stream = _socket->connect("127.0.0.1", port);
    }

    // Sends the request and ends the sending side.
    void send(const std::string& request) {
        _stream->write(request.data(), static_cast<std::uint32_t>(request.size()));
        _stream->shutdown(net::socket::SocketStream::Send);
    }
    // Everything the server sends until it ends its side.
    std::string answer() {
        std::string text;
        char buffer[4096];
        for (;;) {
            const int n = _stream->readSome(buffer, sizeof buffer);
            if (n == 0) return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void close() { _socket.reset(); }

private:
    posix::net::SocketErrors _errors;
    net::socket::SocketStreamFactoryImpl _streams{&_errors};
    net::socket::ClientSocketFactoryImpl _clients{&_errors, &_streams};
    std::unique_ptr<net::socket::ClientSocket> _socket;
    net::socket::SocketStream* _stream = nullptr;
};

}  // namespace net::server::test_support
