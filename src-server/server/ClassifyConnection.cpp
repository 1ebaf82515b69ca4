#include "server/ClassifyConnection.h"

#include <algorithm>
#include <new>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "net/socket/SocketExceptions.h"
#include "server/LogText.h"
#include "server/StatusCode.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark {

using net::socket::SocketException;

ClassifyConnection::ClassifyConnection(std::uint32_t id, const ConnectionParams* params)
    : _params(params), _id(std::to_string(id)), _connected(Clock::now()), _lastByte(_connected) {
    _params->metrics->connectionOpened();
    _params->log->log("Creating connection with id " + _id);
    _params->log->log("Running connection " + _id + ".");
}

ClassifyConnection::~ClassifyConnection() {
    _release();
    // A request still queued when the server stopped never reached a worker.
    if (_phase == Phase::Executing && !_taken) _params->metrics->requestTaken();
    _params->metrics->connectionClosed();
    try {
        _params->log->log("Finished connection with id " + _id);
    } catch (const std::bad_alloc&) {
        // No memory for the line; the connection goes all the same.
    }
}

ClassifyConnection::Step ClassifyConnection::received(const char* bytes, std::size_t size) {
    _lastByte = Clock::now();
    _params->metrics->received(size);
    if (_phase != Phase::Reading) return Step::Read;
    HeldRequests* held = _params->heldRequests;
    if (held != nullptr && !held->take(_held, size)) {
        _drain(statusCode::OUT_OF_MEMORY,
               "Client with id " + _id + " was refused: the requests held by the server had " +
                   "reached the bound of " + std::to_string(held->bound()) + " bytes.");
        return Step::Read;
    }
    if (held != nullptr) _held += size;
    _request.append(bytes, size);
    if (_request.size() > _params->maxInput) {
        _drain(statusCode::REQUEST_TOO_LARGE, "Client with id " + _id +
                                                  " exceeded maximum input size " +
                                                  std::to_string(_params->maxInput) + ".");
    }
    return Step::Read;
}

void ClassifyConnection::_drain(int code, std::string message) {
    std::string().swap(_request);
    _release();
    _phase = Phase::Draining;
    _refusal = code;
    _refusalMessage = std::move(message);
    _params->log->log(_refusalMessage);
}

void ClassifyConnection::_release() noexcept {
    if (_held == 0) return;
    _params->heldRequests->give(_held);
    _held = 0;
}

// The refusal goes out only once the client has sent everything: a client that is still sending
// does not read, and closing on it could reset the connection before it sees the answer.
ClassifyConnection::Step ClassifyConnection::ended() {
    _complete = Clock::now();
    if (_phase == Phase::Draining) return _respond(_refusal, _refusalMessage);
    _phase = Phase::Executing;
    _params->metrics->requestQueued();
    return Step::Execute;
}

ClassifyConnection::Step ClassifyConnection::execute() {
    _taken = true;
    _params->metrics->requestTaken();
    Step step = Step::Drop;
    try {
        step = _execute();
    } catch (const std::bad_alloc&) {
        // Also reached when a failure below could not even build its message.
        _release();
        _params->log->error("Out of memory.");
        return _respond(statusCode::OUT_OF_MEMORY, std::string());
    }
    _release();
    return step;
}

ClassifyConnection::Step ClassifyConnection::_execute() {
    try {
        const xml::ComInitializer com;
        if (_params->terminateHandler != nullptr) _params->terminateHandler->install();
        std::unique_ptr<StringClassifier> classifier = _params->classifierFactory->create();
        QM_ASSERT_TEXT(classifier.get() != nullptr, "classifier.get()",
                       "The classifier factory made no classifier.");
        _params->log->log("Received a request from client with id " + _id + " with the size of " +
                          std::to_string(_request.size()) + ".");
        std::string response = classifier->process(std::move(_request));
        std::string().swap(_request);
        return _answerWith(std::move(response), Phase::Answering);
    } catch (const xml::ComInitializerException& e) {
        const std::string lead =
            "An ComInitializerException occured when running a connection with id " + _id + ". ";
        _params->log->error(lead + escapedForLog(e.what()));
        return _respond(statusCode::SERVER_ERROR, lead + e.what());
    } catch (const SocketException& e) {
        _error(e.what());
        return Step::Drop;
    } catch (const exceptions::Exception& e) {
        const std::string lead = "An Exception when running a connection with id " + _id + ".";
        _params->log->error(lead + escapedForLog(e.what()));
        return _respond(statusCode::SERVER_ERROR, lead + e.what());
    }
}

ClassifyConnection::Step ClassifyConnection::_respond(int code, const std::string& message) {
    try {
        return _answerWith(_params->errorResponseFactory->create()->getErrorResponse(code, message),
                           Phase::Responding);
    } catch (const std::bad_alloc&) {
        _params->log->error("Out of memory in ClassifyConnection::_respond.");
        return Step::Drop;
    }
}

ClassifyConnection::Step ClassifyConnection::_answerWith(std::string text, Phase phase) {
    _answer = std::move(text);
    _phase = phase;
    _ready = Clock::now();
    _params->metrics->answered(Metrics::statusOf(_answer), _ready - _complete);
    _params->metrics->sent(_answer.size());
    return Step::Answer;
}

ClassifyConnection::Clock::time_point ClassifyConnection::deadline() const {
    switch (_phase) {
        case Phase::Reading:
        case Phase::Draining:
            return std::min(_lastByte + _params->idleTimeout, _connected + _params->requestTimeout);
        case Phase::Answering:
        case Phase::Responding:
            return _ready + _params->sendTimeout;
        case Phase::Executing:
            break;
    }
    return Clock::time_point::max();
}

bool ClassifyConnection::_idleFirst() const {
    return _lastByte + _params->idleTimeout <= _connected + _params->requestTimeout;
}

void ClassifyConnection::timedOut() {
    if (_phase == Phase::Answering || _phase == Phase::Responding) {
        _params->log->log("The client with id " + _id + " did not read its answer within " +
                          std::to_string(_params->sendTimeout.count()) +
                          " milliseconds; the connection was dropped.");
    } else if (_idleFirst()) {
        _error("The client with id " + _id + " sent nothing for " +
               std::to_string(_params->idleTimeout.count()) + " milliseconds.");
    } else {
        _error("The client with id " + _id + " did not finish sending its request within " +
               std::to_string(_params->requestTimeout.count()) + " milliseconds of connecting.");
    }
}

void ClassifyConnection::failed(const std::string& reason) {
    switch (_phase) {
        case Phase::Responding:
            _params->log->log(
                "Failed to send status code to client. Could not write data on the socket. "
                "Failed using the send system call. " +
                reason);
            return;
        case Phase::Answering:
            _error("Could not write data on the socket. Failed using the send system call. " +
                   reason);
            return;
        default:
            _error("Error reading data from the socket. Failed using the 'recv' system call. " +
                   reason);
    }
}

void ClassifyConnection::_error(const std::string& text) {
    _params->log->error("An SocketException when running a connection with id " + _id + ". " +
                        text);
}

}  // namespace norvale::quillmark
