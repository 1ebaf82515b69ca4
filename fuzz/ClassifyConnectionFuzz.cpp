// libFuzzer target for ClassifyConnection, the state machine of one client's exchange. Each
// input is a script of what the client does, played to the connection the way the event server
// drives it (received bytes, the end of the request, a deadline, a failed socket, a stop):
//
//   byte 0-1  the input limit (little-endian, modulo 4200; 0xffff: no limit)
//   byte 2    bits 0-1: 1 = request deadline already passed, 2 = idle deadline 0, else the
//             defaults; bit 2: sending the answer fails as on a client that is gone; bit 3:
//             other connections hold 1024 bytes of requests under a shared bound of 2048
//   then events, one byte each:
//     0-2  a block of (next byte + 1) bytes taken from the input
//     3    the client ends its sending side (what it sends later is never read)
//     4    the client stays silent until the deadline
//     5    the connection is reset
//     6    the server stops while the connection waits
//   and when the script runs out the client ends its sending side.
//
// The connection's behaviour is checked against a model of the protocol: a request that ends
// within the limit reaches the executor whole and its answer is handed out to be sent; one over
// the limit is refused with a 4013 error document, and one that would take the shared bound past
// 2048 with a 5030, each handed out only once the client has ended its side; a silent, reset or
// stopped client gets nothing. Once the connection is gone the shared count is what the others
// hold. Deadlines run while reading and sending,
// never while executing. A mismatch, a crash or a sanitizer report is a finding.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
using Step = net::server::Connection::Step;
using Clock = net::server::Connection::Clock;

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
        std::string process(std::string request) override {
            _factory->requests.push_back(request);
            return "answer:" + request;
        }

    private:
        const EchoFactory* _factory;
    };
};

enum Event : std::uint8_t { Block, End = 3, Silence, Reset, Stop };

struct Action {
    Event event;
    std::string bytes;
};

struct Script {
    std::uint64_t maxInput = 0;
    int deadlines = 0;
    bool writesFail = false;
    bool othersHold = false;
    std::vector<Action> steps;
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
    script.othersHold = flags >= 0 && (flags & 8) != 0;
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
    int refused = 0;  // the status code of the error document written
};

constexpr std::size_t SharedBound = 2048, OthersHold = 1024;

Expected model(const Script& script) {
    Expected expected;
    if (script.deadlines == 1 || script.deadlines == 2) return expected;
    std::string request;
    int refused = 0;
    for (const Action& step : script.steps) {
        switch (step.event) {
            case Block:
                if (refused != 0) break;
                if (script.othersHold &&
                    OthersHold + request.size() + step.bytes.size() > SharedBound) {
                    refused = 5030;
                    break;
                }
                request += step.bytes;
                if (request.size() > script.maxInput) refused = 4013;
                break;
            case End:
                if (refused != 0) {
                    expected.refused = refused;
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

// What the connection handed out to be sent, and whether the exchange ended early.
struct Outcome {
    std::string written;
    bool answered = false;
    bool dropped = false;
};

void expectStep(Step got, Step wanted, const char* where) {
    if (got != wanted) finding("unexpected step", where);
}

// The reading part of the event server: every event is checked against the deadline first.
Step read(ClassifyConnection& connection, const Script& script, Outcome& outcome) {
    for (const Action& step : script.steps) {
        if (Clock::now() >= connection.deadline()) {
            connection.timedOut();
            outcome.dropped = true;
            return Step::Drop;
        }
        switch (step.event) {
            case Block:
                expectStep(connection.received(step.bytes.data(), step.bytes.size()), Step::Read,
                           "received");
                break;
            case End:
                return connection.ended();
            case Silence:
                connection.timedOut();
                outcome.dropped = true;
                return Step::Drop;
            case Reset:
                connection.failed("Connection reset by peer");
                outcome.dropped = true;
                return Step::Drop;
            case Stop:
                outcome.dropped = true;
                return Step::Drop;
        }
    }
    finding("read past the end of the script", "");
}

Outcome play(ClassifyConnection& connection, const Script& script) {
    Outcome outcome;
    Step next = read(connection, script, outcome);
    if (next == Step::Execute) {
        if (connection.deadline() != Clock::time_point::max()) {
            finding("a deadline runs while the request executes", "");
        }
        next = connection.execute();
    }
    if (next != Step::Answer) return outcome;
    if (connection.deadline() <= Clock::now() - std::chrono::seconds(1)) {
        finding("no time left to send the answer", "");
    }
    if (script.writesFail) {
        connection.failed("Broken pipe");
    } else {
        outcome.written = connection.answer();
        outcome.answered = true;
    }
    return outcome;
}

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
    Metrics metrics;
    ErrorResponseFactoryImpl errors{"urn:quillmark:fuzz", "1.00"};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    const Script script = parse(data, size);
    const Expected expected = model(script);

    EchoFactory executors;
    HeldRequests held(SharedBound);
    if (script.othersHold) held.take(0, OthersHold);
    ConnectionParams params;
    params.maxInput = script.maxInput;
    params.log = &h.log;
    params.metrics = &h.metrics;
    params.classifierFactory = &executors;
    params.errorResponseFactory = &h.errors;
    if (script.deadlines == 1) params.requestTimeout = std::chrono::milliseconds(0);
    if (script.deadlines == 2) params.idleTimeout = std::chrono::milliseconds(0);
    params.heldRequests = &held;

    const Outcome outcome = [&] {
        ClassifyConnection connection(1, &params);
        return play(connection, script);
    }();
    if (held.held() != (script.othersHold ? OthersHold : 0)) {
        finding("request bytes still counted after the connection", std::to_string(held.held()));
    }
    if (script.writesFail) {
        if (outcome.answered) finding("answered through a failing socket", outcome.written);
    } else if (expected.processed) {
        if (!outcome.answered || outcome.written != "answer:" + expected.request) {
            finding("wrong answer", outcome.written);
        }
    } else if (expected.refused) {
        if (!outcome.answered || statusOf(outcome.written) != expected.refused) {
            finding("request over a limit not refused", outcome.written);
        }
    } else if (outcome.answered) {
        finding("answered a client that was dropped", outcome.written);
    }
    const bool reachedExecutor = executors.requests.size() == 1;
    if (reachedExecutor != expected.processed ||
        (reachedExecutor && executors.requests[0] != expected.request)) {
        finding("the executor got the wrong request", "");
    }
    return 0;
}
