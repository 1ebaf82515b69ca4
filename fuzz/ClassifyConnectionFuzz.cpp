// libFuzzer target for the request reader of ClassifyConnection. Each input is a script of what
// the client does on the socket, played by a scripted socket stream while the connection runs:
//
//   byte 0-1  the input limit (little-endian, modulo 4200; 0xffff: no limit)
//   byte 2    bits 0-1: 1 = request deadline already passed, 2 = idle deadline 0, else the
//             defaults; bit 2: every write fails as on a client that is gone
//   then events, one byte each:
//     0-2  a block of (next byte + 1) bytes taken from the input
//     3    the client ends its sending side (what it sends later is never read)
//     4    the client stays silent until the deadline
//     5    the connection is reset
//     6    the server stops the connection while it waits
//   and when the script runs out the client ends its sending side.
//
// The connection's behaviour is checked against a model of the protocol: a request that ends
// within the limit reaches the executor whole and its answer is written followed by the end of
// the sending side; one over the limit is refused with a 4013 error document, written only once
// the client has ended its side; a silent, reset or stopped client gets nothing. The stream is
// closed exactly once in every case. A mismatch, a crash or a sanitizer report is a finding.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/server/Connection.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStream.h"
#include "platform/mutex/BoundedBufferLockImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifyConnection.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/Log.h"
#include "server/StringClassifierFactory.h"
#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/XMLExceptions.h"

namespace {

using namespace norvale::quillmark;
using net::socket::SocketStream;

[[noreturn]] void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
    __builtin_trap();
}

class QuietLog : public Log {
public:
    using Log::assertionFailed, Log::error, Log::log, Log::test;
    void log(const std::string&) override {}
    void error(const std::string&) override {}
    void test(const std::string&) override {}
    void assertionFailed(const std::string& expression, const std::string&, const std::string&,
                         int) override {
        finding("Failed check", expression);
    }
};

// Answers "answer:" + the request and remembers how often it was asked.
class EchoFactory : public StringClassifierFactory {
public:
    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Echo>(this);
    }
    mutable std::vector<std::string> requests;

private:
    class Echo : public StringClassifier {
    public:
        explicit Echo(const EchoFactory* factory) : _factory(factory) {}
        std::string process(const std::string& request) override {
            _factory->requests.push_back(request);
            return "answer:" + request;
        }

    private:
        const EchoFactory* _factory;
    };
};

enum Event : std::uint8_t { Block, End = 3, Silence, Reset, Stop };

struct Step {
    Event event;
    std::string bytes;
};

struct Script {
    std::uint64_t maxInput = 0;
    int deadlines = 0;
    bool writesFail = false;
    std::vector<Step> steps;
};

Script parse(const std::uint8_t* data, std::size_t size) {
    Script script;
    std::size_t at = 0;
    const auto next = [&]() -> int { return at < size ? data[at++] : -1; };
    const int low = next(), high = next(), flags = next();
    const unsigned limit = unsigned(low < 0 ? 0 : low) | unsigned(high < 0 ? 0 : high) << 8;
    script.maxInput = limit == 0xffff ? widenMaxInput(-1) : limit % 4200;
    script.deadlines = flags < 0 ? 0 : flags & 3;
    script.writesFail = flags >= 0 && (flags & 4) != 0;
    for (int op = next(); op >= 0; op = next()) {
        const int kind = op % 7;
        if (kind > 2) {
            script.steps.push_back({Event(kind), {}});
            continue;
        }
        const int length = next() + 1;
        const std::size_t take = std::min<std::size_t>(std::size_t(length), size - at);
        if (take == 0) break;
        const char* bytes = reinterpret_cast<const char*>(data + at);
        script.steps.push_back({Block, std::string(bytes, take)});
        at += take;
    }
    script.steps.push_back({End, {}});
    return script;
}

// What the client must see.
struct Expected {
    bool processed = false;  // the executor got `request` and its answer was written
    std::string request;
    bool refused = false;  // a 4013 error document was written
};

Expected model(const Script& script) {
    Expected expected;
    if (script.deadlines == 1 || script.deadlines == 2) return expected;
    std::string request;
    bool tooLarge = false;
    for (const Step& step : script.steps) {
        switch (step.event) {
            case Block:
                if (!tooLarge) {
                    request += step.bytes;
                    tooLarge = request.size() > script.maxInput;
                }
                break;
            case End:
                if (tooLarge) {
                    expected.refused = true;
                } else {
                    expected.processed = true;
                    expected.request = request;
                }
                return expected;
            default:  // Silence, Reset, Stop: dropped without an answer.
                return expected;
        }
    }
    return expected;
}

// Plays the script to the connection and records what the connection does to it.
class ScriptedStream : public SocketStream {
public:
    ScriptedStream(const Script* script, ClassifyConnection** connection)
        : _script(script), _connection(connection) {}

    void shutdown(int end) override {
        if (closes != 0) finding("shutdown after close", std::to_string(end));
        if (end == Send || end == Both) sendShut = true;
        if (end == Receive || end == Both) _receiveShut = true;
    }
    void close() override { ++closes; }
    void read(char*, std::uint32_t) override { finding("unexpected call", "read"); }
    int readUntil(char*, std::uint32_t, const char*) override {
        finding("unexpected call", "readUntil");
    }
    std::string getPeerName() override { return "127.0.0.1"; }
    std::string getLocalName() override { return "127.0.0.1"; }

    bool waitReadable(int timeoutMs) override {
        if (closes != 0) finding("wait after close", "");
        if (timeoutMs <= 0) finding("wait without time left", std::to_string(timeoutMs));
        if (_receiveShut || _ended) return true;
        const Step& step = current();
        if (step.event == Silence) return false;
        if (step.event == Stop) {
            ++_step;
            (*_connection)->stop();
        }
        return true;
    }

    int readSome(char* buffer, std::uint32_t n) override {
        if (closes != 0) finding("read after close", "");
        if (_receiveShut || _ended) return 0;
        const Step& step = current();
        if (step.event == Reset) throw net::socket::ReadException("Connection reset by peer.");
        if (step.event == End) {
            _ended = true;
            return 0;
        }
        if (step.event != Block) finding("read without waiting", std::to_string(step.event));
        const std::size_t count = std::min<std::size_t>(n, step.bytes.size() - _offset);
        step.bytes.copy(buffer, count, _offset);
        _offset += count;
        if (_offset == step.bytes.size()) {
            ++_step;
            _offset = 0;
        }
        return static_cast<int>(count);
    }

    void write(const char* buffer, std::uint32_t n) override {
        if (closes != 0) finding("write after close", "");
        if (sendShut) finding("write after the end of the sending side", "");
        if (_script->writesFail) throw net::socket::WriteException("Broken pipe.");
        if (!_ended) finding("answer before the client finished", std::string(buffer, n));
        written.append(buffer, n);
    }

    std::string written;
    bool sendShut = false;
    int closes = 0;

private:
    const Step& current() const {
        if (_step >= _script->steps.size()) finding("read past the end of the script", "");
        return _script->steps[_step];
    }

    const Script* _script;
    ClassifyConnection** _connection;
    std::size_t _step = 0;
    std::size_t _offset = 0;
    bool _ended = false;
    bool _receiveShut = false;
};

int statusOf(const std::string& document) {
    try {
        xml::Document parsed;
        parsed.setSelectionNamespaces("xmlns:r='urn:quillmark:fuzz'");
        parsed.loadFromMemory(document);
        return std::stoi(parsed.selectExactlyOne("r:*/r:status").getAttribute("statusCode"));
    } catch (const xml::XMLException& e) {
        finding("error document that does not load", std::string(e.what()) + "\n" + document);
    }
}

struct Harness {
    xml::ComInitializer com;
    QuietLog log;
    ErrorResponseFactoryImpl errors{"urn:quillmark:fuzz", "1.00"};
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads{&os};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    const Script script = parse(data, size);
    const Expected expected = model(script);

    EchoFactory executors;
    ConnectionParams params{script.maxInput, &h.log, &executors, &h.errors, nullptr,
                            ConnectionParams::DefaultIdleTimeout,
                            ConnectionParams::DefaultRequestTimeout};
    if (script.deadlines == 1) params.requestTimeout = std::chrono::milliseconds(0);
    if (script.deadlines == 2) params.idleTimeout = std::chrono::milliseconds(0);

    // The bookkeeping of a thread server with one client.
    net::server::Connection::Clients clients;
    net::server::Connection::DeletableClients finished;
    finished.reserve(1);
    platform::mutex::BoundedBufferLockImpl finishedLock(1);

    ClassifyConnection* running = nullptr;
    auto owned = std::make_unique<ScriptedStream>(&script, &running);
    ScriptedStream* stream = owned.get();
    {
        ClassifyConnection connection(&h.threads, 1, &params);
        running = &connection;
        const auto position = clients.insert({stream, &connection});
        connection.attach(std::move(owned), &clients, &finished, &finishedLock, position);
        connection.run();

        finishedLock.beginTake();
        if (finished.size() != 1 || finished.back() != position) {
            finding("the connection did not report its end once", "");
        }
        finished.pop_back();
        finishedLock.endTake(true);
        if (stream->closes != 1) finding("stream not closed once", std::to_string(stream->closes));

        const bool answered = !stream->written.empty();
        if (script.writesFail) {
            if (answered) finding("wrote through a failing stream", stream->written);
        } else if (expected.processed) {
            if (stream->written != "answer:" + expected.request || !stream->sendShut) {
                finding("wrong answer", stream->written);
            }
        } else if (expected.refused) {
            if (!stream->sendShut || statusOf(stream->written) != 4013) {
                finding("request over the limit not refused", stream->written);
            }
        } else if (answered || stream->sendShut) {
            finding("answered a client that was dropped", stream->written);
        }
        const bool reachedExecutor = executors.requests.size() == 1;
        if (reachedExecutor != expected.processed ||
            (reachedExecutor && executors.requests[0] != expected.request)) {
            finding("the executor got the wrong request", "");
        }
    }
    return 0;
}
