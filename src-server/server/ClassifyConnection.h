#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "net/server/Connection.h"
#include "net/server/ConnectionFactory.h"
#include "server/ConnectionParams.h"

namespace norvale::quillmark {

// One client's exchange, driven by the EventServer: the request is kept until the client ends
// its sending side (at most maxInput bytes; a longer one is dropped as it arrives and answered
// with status 4013 once the client has finished sending, as is one that the bound of the
// requests held by all connections refuses, with status 5030), executed by a fresh
// StringClassifier, and its answer (or the error document of a failure around it) handed back to be
// sent. Failures of the connection itself are logged. The params are shared and not owned.
// Calls never overlap (see net::server::Connection).
class ClassifyConnection : public net::server::Connection {
public:
    // Logs "Creating connection with id <id>" and "Running connection <id>."; the request
    // deadline counts from here.
    ClassifyConnection(std::uint32_t id, const ConnectionParams* params);
    // Logs "Finished connection with id <id>".
    ~ClassifyConnection() override;

    Step received(const char* bytes, std::size_t size) override;
    Step ended() override;
    Step execute() override;
    const std::string& answer() const override { return _answer; }

    Clock::time_point deadline() const override;
    void timedOut() override;
    void failed(const std::string& reason) override;

private:
    enum class Phase { Reading, Draining, Executing, Answering, Responding };

    Step _execute();
    Step _respond(int code, const std::string& message);
    // Stops keeping the request: it is dropped as it arrives from now on and answered with
    // `code` and `message` once the client has ended.
    void _drain(int code, std::string message);
    // Gives the bytes the request holds back to params->heldRequests.
    void _release() noexcept;
    Step _answerWith(std::string text, Phase phase);
    bool _idleFirst() const;
    void _error(const std::string& text);

    const ConnectionParams* _params;
    const std::string _id;
    const Clock::time_point _connected;
    Clock::time_point _lastByte;
    Clock::time_point _ready{};
    Clock::time_point _complete{};  // when the whole request had arrived
    bool _taken = false;            // execution of the request has begun
    Phase _phase = Phase::Reading;
    std::string _request;
    std::size_t _held = 0;  // bytes of the request counted in params->heldRequests
    int _refusal = 0;       // the status code of a drained request
    std::string _refusalMessage;
    std::string _answer;
};

// Makes a ClassifyConnection per accepted client over the shared params (not owned).
class ClassifyConnectionFactory : public net::server::ConnectionFactory {
public:
    explicit ClassifyConnectionFactory(const ConnectionParams* params) : _params(params) {}

    std::unique_ptr<net::server::Connection> create(std::uint32_t id) const override {
        return std::make_unique<ClassifyConnection>(id, _params);
    }

private:
    const ConnectionParams* _params;
};

}  // namespace norvale::quillmark
