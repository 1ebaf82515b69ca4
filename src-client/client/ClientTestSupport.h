#pragma once

// Helpers of the client tests: a fake server on a free loopback port that answers every
// request through a function and records what it received, an answer function that plays a
// server (validates the request, decodes its texts, writes results with the server's own
// response writers), and a small JSON reader to check --json output.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "classifier/ClassInformation.h"
#include "classifier/Classification.h"
#include "classifier/KeywordQueue.h"
#include "client/CommandRunner.h"
#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/ServerSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "posix/net/SocketErrors.h"
#include "server/RequestVersion.h"
#include "server/XmlErrorResponseImpl.h"
#include "server/XmlResponseImpl.h"
#include "util/Base64DecoderImpl.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark::client::test {

inline const std::string ResponseNamespace = "http://quillmark.invalid/1/server/ResponseSchema";

inline std::string schemaPath(const std::string& relative) {
    return std::string(QM_SCHEMA_DIR) + "/" + relative;
}

// The request and response schemas, loaded as the server loads them.
class Schemas {
public:
    Schemas() {
        for (const char* file : {"server/RequestSchema.xsd", "server/ResponseSchema.xsd"}) {
            xml::Document schema;
            schema.loadFromFile(schemaPath(file));
            _cache.add(schema.getTargetNamespace(), schema);
        }
    }

    // Empty when `document` is valid, else the validator's report.
    std::string problems(const std::string& document) const {
        try {
            xml::Document loaded(&_cache);
            loaded.loadFromMemory(document);
            loaded.validate();
            return "";
        } catch (const exceptions::Exception& e) {
            return e.what();
        }
    }

private:
    xml::SchemaCache _cache;
};

// Socket factories over the production implementations.
struct Sockets {
    posix::net::SocketErrors errors;
    net::socket::SocketStreamFactoryImpl streams{&errors};
    net::socket::ServerSocketFactoryImpl servers{&errors, &streams};
    net::socket::ClientSocketFactoryImpl clients{&errors, &streams};
};

// Accepts connections on a port the system picks and serves each on a thread of its own: reads
// the request to its end, records it and sends back what `answer` makes of it. An empty answer
// closes the connection without a word. With answers held back, the answer to each even-numbered
// request (counted from 0 in the order they arrived) waits until the next one has been sent, so
// the two answers arrive in reverse order.
class FakeServer {
public:
    using Answer = std::function<std::string(const std::string& request)>;

    explicit FakeServer(Answer answer)
        : _answer(std::move(answer)),
          _socket(_sockets.servers.create(0, 16)),
          _thread([this] { serve(); }) {}

    ~FakeServer() {
        _socket->close();
        _thread.join();
        for (std::thread& connection : _connections) connection.join();
    }

    std::uint16_t port() const { return _socket->localPort(); }

    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _requests;
    }

    void holdBackAnswers() {
        std::lock_guard<std::mutex> lock(_mutex);
        _holdBack = true;
    }

private:
    void serve() {
        for (;;) {
            std::shared_ptr<net::socket::SocketStream> stream;
            try {
                stream = _socket->accept();
            } catch (const net::socket::SocketException&) {
                return;  // closed by the destructor
            }
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
            {
                std::unique_lock<std::mutex> lock(_mutex);
                // Bounded, so that a client that never sends the partner fails instead of hanging.
                if (_holdBack && index % 2 == 0) {
                    const bool partnerSent = _sent.wait_for(lock, std::chrono::seconds(20), [&] {
                        return _answered.count(index + 1) > 0;
                    });
                    EXPECT_TRUE(partnerSent) << "request " << index + 1 << " never came";
                }
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
    Sockets _sockets;
    std::unique_ptr<net::socket::ServerSocket> _socket;
    mutable std::mutex _mutex;
    std::condition_variable _sent;
    // Guarded by _mutex.
    std::vector<std::string> _requests;
    std::set<std::size_t> _answered;
    bool _holdBack = false;
    // Used by the accepting thread only, then by the destructor after joining it.
    std::vector<std::thread> _connections;
    std::thread _thread;
};

inline std::string errorDocument(int statusCode, const std::string& message) {
    return XmlErrorResponseImpl(ResponseNamespace, "1.00").getErrorResponse(statusCode, message);
}

// A call as the playing server saw it.
struct SeenCall {
    std::string call;
    std::string classifierName;
    std::string className;
    std::string text;  // the decoded text named by textId
};

// Plays a server: validates each request against the request schema (a request that fails is
// a test failure and gets an error document), decodes the texts, records the calls, and answers
// with XmlResponseImpl. classify gives every text the probabilities of `classes`; keywords are
// the first word of the text for the first class; getInformation reports `classes` with counts
// 10 * (position + 1).
class PlayingServer {
public:
    explicit PlayingServer(std::map<std::string, double> classes = {{"alpha", 0.25},
                                                                    {"beta", 0.7},
                                                                    {"gamma", 0.05}})
        : _classes(std::move(classes)),
          _server([this](const std::string& r) { return answer(r); }) {}

    std::uint16_t port() const { return _server.port(); }
    std::vector<std::string> requests() const { return _server.requests(); }
    std::vector<SeenCall> calls() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _calls;
    }
    // Makes the answer to the request carrying `text` an error document.
    void failText(const std::string& text, int statusCode, const std::string& message) {
        std::lock_guard<std::mutex> lock(_mutex);
        _failures[text] = {statusCode, message};
    }
    void holdBackAnswers() { _server.holdBackAnswers(); }

private:
    std::string answer(const std::string& request) {
        std::lock_guard<std::mutex> lock(_mutex);
        const std::string problems = _schemas.problems(request);
        EXPECT_EQ(problems, "") << request.substr(0, 2000);
        if (!problems.empty()) return errorDocument(4000, problems);
        xml::Document document;
        document.setSelectionNamespaces(
            "xmlns:qm='http://quillmark.invalid/1/server/RequestSchema'");
        document.loadFromMemory(request);
        const xml::Element root = document.selectExactlyOne("/qm:quillmark");
        XmlResponseImpl response(ResponseNamespace,
                                 RequestVersion::parse(root.getAttribute("version")));
        std::map<std::string, std::string> texts;
        const xml::NodeList textElements = root.selectNodes("qm:texts/qm:textBase64");
        for (std::size_t i = 0; i < textElements.count(); ++i) {
            texts[textElements.item(i).getAttribute("id")] =
                util::Base64DecoderImpl().decode(textElements.item(i).getText());
        }
        for (const auto& text : texts) {
            const auto failure = _failures.find(text.second);
            if (failure != _failures.end()) {
                return errorDocument(failure->second.first, failure->second.second);
            }
        }
        const auto attribute = [](const xml::Element& e, const char* name) {
            return e.attributeExists(name) ? e.getAttribute(name) : std::string();
        };
        const xml::NodeList reads = root.selectNodes("qm:readCalls/*");
        for (std::size_t i = 0; i < reads.count(); ++i) {
            const xml::Element call = reads.item(i);
            const std::string name = call.getTagName();
            const std::string text = texts[attribute(call, "textId")];
            _calls.push_back({name, attribute(call, "classifierName"), "", text});
            const std::string id = call.getAttribute("id");
            if (name == "classify") {
                classifier::Classification classification;
                classification.setTextCoverage(0.5);
                for (const auto& [className, p] : _classes) {
                    classification.setProbability(className, p);
                }
                response.classify(id, classification);
            } else if (name == "classifyKeywords") {
                classifier::KeywordQueue queue(10, 0.0);
                const std::string word = text.substr(0, text.find(' '));
                if (!word.empty()) {
                    queue.offer(classifier::Keyword(storeWord(word), word.size(), 0.9, 1,
                                                    _classes.begin()->first.c_str()));
                }
                response.classifyKeywords(id, queue);
            } else {
                std::vector<classifier::ClassInformation> information;
                std::uint32_t count = 10;
                for (const auto& entry : _classes) {
                    information.emplace_back(entry.first, count, count * 3);
                    count += 10;
                }
                response.getInformation(id, information);
            }
        }
        const xml::NodeList writes = root.selectNodes("qm:writeCalls/*");
        const std::string classifierName =
            writes.count() > 0
                ? root.selectExactlyOne("qm:writeCalls").getAttribute("classifierName")
                : "";
        for (std::size_t i = 0; i < writes.count(); ++i) {
            const xml::Element call = writes.item(i);
            const std::string name = call.getTagName();
            const std::string id = call.getAttribute("id");
            _calls.push_back({name, classifierName, attribute(call, "className"),
                              texts[attribute(call, "textId")]});
            const std::map<std::string, void (XmlResponseImpl::*)(const std::string&)> writers = {
                {"create", &XmlResponseImpl::create},
                {"remove", &XmlResponseImpl::remove},
                {"addClass", &XmlResponseImpl::addClass},
                {"removeClass", &XmlResponseImpl::removeClass},
                {"train", &XmlResponseImpl::train},
                {"untrain", &XmlResponseImpl::untrain}};
            (response.*writers.at(name))(id);
        }
        return response.getResponse();
    }

    const char* storeWord(const std::string& word) {
        _words.push_back(std::make_unique<std::string>(word));
        return _words.back()->c_str();
    }

    const std::map<std::string, double> _classes;
    Schemas _schemas;
    mutable std::mutex _mutex;
    // Guarded by _mutex.
    std::vector<SeenCall> _calls;
    std::map<std::string, std::pair<int, std::string>> _failures;
    std::vector<std::unique_ptr<std::string>> _words;
    FakeServer _server;
};

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
    static Sockets sockets;
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

// A parsed JSON value; enough of JSON to read the client's output.
struct Json {
    enum class Type { Null, Boolean, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> fields;

    const Json& operator[](const std::string& name) const {
        for (const auto& field : fields) {
            if (field.first == name) return field.second;
        }
        static const Json missing;
        ADD_FAILURE() << "no field " << name;
        return missing;
    }
    bool has(const std::string& name) const {
        for (const auto& field : fields) {
            if (field.first == name) return true;
        }
        return false;
    }
    const Json& operator[](std::size_t index) const { return items.at(index); }
};

class JsonReader {
public:
    // Throws std::runtime_error at the first syntax error or when text follows the value.
    static Json parse(const std::string& text) {
        JsonReader reader(text);
        Json value = reader.value();
        reader.blanks();
        if (reader._at != text.size()) reader.fail("text after the value");
        return value;
    }

private:
    explicit JsonReader(const std::string& text) : _text(text) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(_at));
    }
    void blanks() {
        while (_at < _text.size() && std::string(" \t\r\n").find(_text[_at]) != std::string::npos) {
            ++_at;
        }
    }
    char peek() {
        blanks();
        if (_at >= _text.size()) fail("unexpected end");
        return _text[_at];
    }
    void expect(char c) {
        if (peek() != c) fail(std::string("expected ") + c);
        ++_at;
    }
    bool word(const std::string& w) {
        if (_text.compare(_at, w.size(), w) != 0) return false;
        _at += w.size();
        return true;
    }

    Json value() {
        Json result;
        const char c = peek();
        if (c == '{') {
            result.type = Json::Type::Object;
            ++_at;
            if (peek() == '}') return ++_at, result;
            do {
                std::string name = string();
                expect(':');
                result.fields.emplace_back(std::move(name), value());
            } while (peek() == ',' && ++_at);
            expect('}');
            return result;
        }
        if (c == '[') {
            result.type = Json::Type::Array;
            ++_at;
            if (peek() == ']') return ++_at, result;
            do {
                result.items.push_back(value());
            } while (peek() == ',' && ++_at);
            expect(']');
            return result;
        }
        if (c == '"') {
            result.type = Json::Type::String;
            result.text = string();
            return result;
        }
        if (word("true")) return result.type = Json::Type::Boolean, result.boolean = true, result;
        if (word("false")) return result.type = Json::Type::Boolean, result;
        if (word("null")) return result;
        std::size_t used = 0;
        try {
            result.number = std::stod(_text.substr(_at, 40), &used);
        } catch (const std::exception&) {
            fail("no value");
        }
        _at += used;
        result.type = Json::Type::Number;
        return result;
    }

    std::string string() {
        expect('"');
        std::string result;
        for (;;) {
            if (_at >= _text.size()) fail("unterminated string");
            const auto c = static_cast<unsigned char>(_text[_at++]);
            if (c == '"') return result;
            if (c < 0x20) fail("raw control character in a string");
            if (c != '\\') {
                result += static_cast<char>(c);
                continue;
            }
            if (_at >= _text.size()) fail("unterminated escape");
            const char e = _text[_at++];
            const std::size_t simple = std::string("\"\\/nbfrt").find(e);
            if (simple != std::string::npos) {
                result += "\"\\/\n\b\f\r\t"[simple];
            } else if (e == 'u') {
                const unsigned code = std::stoul(_text.substr(_at, 4), nullptr, 16);
                _at += 4;
                if (code >= 0xD800 && code < 0xE000) fail("surrogates are not expected");
                appendUtf8(result, code);
            } else {
                fail("bad escape");
            }
        }
    }

    static void appendUtf8(std::string& text, unsigned code) {
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    const std::string& _text;
    std::size_t _at = 0;
};

}  // namespace norvale::quillmark::client::test
