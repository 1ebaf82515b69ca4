#pragma once

// Helpers of the client tests: the client run in this process with captured streams, the
// server's own connection road (ClassifyServer over request execution) on a free port, a relay
// that stands in front of it or answers on its own, and the client's JSON output read with Boost.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>

#include "client/CommandRunner.h"
#include "io/filesystem/TempFolder.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "server/XmlErrorResponseImpl.h"
#include "testing/InProcessServer.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "util/Base64DecoderImpl.h"

namespace norvale::quillmark::client::test {

using net::socket::test_support::Sockets;

// The server's request road on a port the system picks, its classifier files in a temporary
// folder. The port stays the same after stop, which refuses later connections.
class ConnectionServer {
public:
    std::uint16_t port() const { return _port; }
    void stop() { _server.reset(); }

private:
    std::string folder(const char* name) {
        std::filesystem::create_directories(_temp.path(name));
        return _temp.path(name);
    }

    io::filesystem::test::TempFolder _temp;
    testing::RecordingLog _log;
    std::unique_ptr<testing::InProcessServer> _server =
        std::make_unique<testing::InProcessServer>(folder("classifiers"), folder("locks"), &_log);
    std::uint16_t _port = _server->port();
};

// Accepts connections on a port the system picks and serves each on a thread of its own: reads
// the request to its end, records it and sends back what `answer` makes of it (an empty answer
// closes the connection without a word). With answers swapped, the answer to each even-numbered
// request (counted from 0 as they arrive) waits until the next one has been sent, so the two
// arrive in reverse order.
class Relay {
public:
    using Answer = std::function<std::string(const std::string& request)>;

    // Passes every request on to the server at `port`.
    static Answer forwardTo(std::uint16_t port) {
        return [port](const std::string& request) {
            return testing::LoopbackClient::ask(port, request);
        };
    }

    explicit Relay(Answer answer, bool swapAnswers = false)
        : _answer(std::move(answer)),
          _swap(swapAnswers),
          _thread([this] { serve(); }) {}

    ~Relay() {
        _listener.stop();
        _thread.join();
        for (std::thread& connection : _connections) connection.join();
    }

    std::uint16_t port() const { return _listener.port(); }

    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _requests;
    }

private:
    void serve() {
        // accept fails once the destructor stops the listener.
        for (int fd; (fd = _listener.accept()) >= 0;) {
            std::shared_ptr<net::socket::SocketStream> stream = _sockets.streams.create(fd);
            _connections.emplace_back([this, stream] { reply(*stream); });
        }
    }

    void reply(net::socket::SocketStream& stream) {
        try {
            std::string request;
            char buffer[16384];
            for (int n; (n = stream.readSome(buffer, sizeof buffer)) > 0;) {
                request.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t index;
            {
                std::lock_guard<std::mutex> lock(_mutex);
                index = _requests.size();
                _requests.push_back(request);
            }
            const std::string reply = _answer(request);
            if (_swap && index % 2 == 0) {
                // Bounded, so that a client that never sends the partner fails instead of hanging.
                std::unique_lock<std::mutex> lock(_mutex);
                EXPECT_TRUE(_sent.wait_for(lock, std::chrono::seconds(20),
                                           [&] { return _answered.count(index + 1) > 0; }))
                    << "request " << index + 1 << " never came";
            }
            stream.write(reply.data(), static_cast<std::uint32_t>(reply.size()));
            stream.shutdown(net::socket::SocketStream::Send);
            stream.close();
            std::lock_guard<std::mutex> lock(_mutex);
            _answered.insert(index);
            _sent.notify_all();
        } catch (const net::socket::SocketException&) {
        }
    }

    Answer _answer;
    const bool _swap;
    Sockets _sockets;
    net::socket::test_support::Listener _listener;
    mutable std::mutex _mutex;
    std::condition_variable _sent;
    // Guarded by _mutex.
    std::vector<std::string> _requests;
    std::set<std::size_t> _answered;
    // Used by the accepting thread only, then by the destructor after joining it.
    std::vector<std::thread> _connections;
    std::thread _thread;
};

inline std::string errorDocument(int statusCode, const std::string& message) {
    return XmlErrorResponseImpl("http://quillmark.invalid/1/server/ResponseSchema", "1.00")
        .getErrorResponse(statusCode, message);
}

// The texts a request carries, decoded, in document order. Searched, not matched with
// std::regex, whose matcher recurses once per character and overflows the stack on long texts.
inline std::vector<std::string> textsOf(const std::string& request) {
    const std::string open = "<textBase64 id=\"";
    const std::string close = "</textBase64>";
    std::vector<std::string> texts;
    for (std::size_t at = request.find(open); at != std::string::npos;
         at = request.find(open, at)) {
        const std::size_t begin = request.find('>', at) + 1;
        const std::size_t end = request.find(close, begin);
        texts.push_back(util::Base64DecoderImpl().decode(request.substr(begin, end - begin)));
        at = end;
    }
    return texts;
}

// One run of the client program with captured streams.
struct ClientRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the client with `words` (the port is added as an option) and `input` as standard input,
// on a clock that advances one second per reading.
inline ClientRun runQuillmark(std::uint16_t port, std::vector<std::string> words,
                              const std::string& input = "", bool terminal = false) {
    Sockets sockets;
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    double now = 0;
    words.insert(words.begin(), {"--port", std::to_string(port)});
    const Environment environment{&in, &out, &err, terminal, [&now] { return now += 1; }, nullptr};
    ClientRun run;
    run.status = runClient(words, &sockets.clients, environment);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// A JSON document as Boost reads it (which refuses raw control characters and bytes that are no
// UTF-8): arrays are children with empty names, values are their texts.
using Json = boost::property_tree::ptree;

inline Json parseJson(const std::string& text) {
    std::istringstream in(text);
    Json json;
    boost::property_tree::read_json(in, json);
    return json;
}

}  // namespace norvale::quillmark::client::test
