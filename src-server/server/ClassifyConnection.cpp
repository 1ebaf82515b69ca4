#include "server/ClassifyConnection.h"

#include <algorithm>
#include <new>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "platform/thread/MethodCaller0.h"
#include "server/ScopedSocketCloser.h"
#include "server/StatusCode.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark {

using net::socket::SocketException;
using net::socket::SocketStream;

ClassifyConnection::ClassifyConnection(const platform::thread::ThreadFactory* factory,
                                       std::uint32_t id, const ConnectionParams* params)
    : Connection(id, factory),
      _params(params),
      _id(std::to_string(id)),
      _errorResponse(params->errorResponseFactory->create()),
      _connected(std::chrono::steady_clock::now()) {
    _params->log->log("Creating connection with id " + _id);
}

ClassifyConnection::~ClassifyConnection() {
    try {
        _params->log->log("Finished connection with id " + _id);
    } catch (const std::bad_alloc&) {
        // No memory for the line; the connection goes all the same.
    }
}

void ClassifyConnection::stop() {
    _stop.store(true);
    std::lock_guard lock(_streamLock);
    if (stream() == nullptr) return;
    try {
        stream()->shutdown(SocketStream::Receive);
    } catch (const SocketException&) {
        // Already closed, or the client is gone: no read can block any more.
    }
}

// The closer is declared after the guard, so the stream is closed before the server hears that
// the connection has finished.
void ClassifyConnection::run() {
    using platform::thread::MethodCaller0;
    MethodCaller0<ClassifyConnection> finished(this, &ClassifyConnection::_finish);
    ScopedSocketCloser closer(stream(), _params->log, &_streamLock);
    try {
        _serveLoggingFailures();
    } catch (const std::bad_alloc&) {
        // Also reached when a failure below could not even build its message.
        _params->log->error("Out of memory.");
        _respond(statusCode::OUT_OF_MEMORY, std::string());
    }
}

void ClassifyConnection::_finish() noexcept {
    try {
        quit();
    } catch (...) {
        // Nothing is left to tell about a connection that could not report its own end.
    }
}

void ClassifyConnection::_serveLoggingFailures() {
    try {
        _params->log->log("Running connection " + _id + ".");
        const xml::ComInitializer com;
        if (_params->terminateHandler != nullptr) _params->terminateHandler->install();
        _serve();
    } catch (const xml::ComInitializerException& e) {
        const std::string message =
            "An ComInitializerException occured when running a connection with id " + _id + ". " +
            e.what();
        _params->log->error(message);
        _respond(statusCode::SERVER_ERROR, message);
    } catch (const SocketException& e) {
        _params->log->error("An SocketException when running a connection with id " + _id + ". " +
                            e.what());
    } catch (const exceptions::Exception& e) {
        const std::string message =
            "An Exception when running a connection with id " + _id + "." + e.what();
        _params->log->error(message);
        _respond(statusCode::SERVER_ERROR, message);
    }
}

void ClassifyConnection::_serve() {
    std::unique_ptr<StringClassifier> classifier = _params->classifierFactory->create();
    QM_ASSERT_TEXT(classifier.get() != nullptr, "classifier.get()",
                   "The classifier factory made no classifier.");
    std::string request;
    if (_readRequest(request) != Request::Complete) return;
    _params->log->log("Received a request from client with id " + _id + " with the size of " +
                      std::to_string(request.size()) + ".");
    const std::string response = classifier->process(request);
    _writeAll(response);
    stream()->shutdown(SocketStream::Send);
}

ClassifyConnection::Request ClassifyConnection::_readRequest(std::string& request) {
    request.reserve(ReservedRequestSize);
    char buffer[BlockSize];
    for (;;) {
        if (_stop.load()) return Request::Stopped;
        const int received = _readBlock(buffer);
        // stop ends a blocked read by shutting the receiving side down, which looks like the
        // end of the request: what arrived so far is not a request.
        if (received == 0) return _stop.load() ? Request::Stopped : Request::Complete;
        request.append(buffer, static_cast<std::size_t>(received));
        if (request.size() > _params->maxInput) {
            std::string().swap(request);
            _refuseTooLarge(buffer);
            return Request::Refused;
        }
    }
}

// The answer goes out only once the client has sent everything: a client that is still sending
// does not read, and closing on it could reset the connection before it sees the answer.
void ClassifyConnection::_refuseTooLarge(char* buffer) {
    const std::string message = "Client with id " + _id + " exceeded maximum input size " +
                                std::to_string(_params->maxInput) + ".";
    _params->log->log(message);
    for (;;) {
        if (_stop.load()) return;
        if (_readBlock(buffer) == 0) break;
    }
    if (_stop.load()) return;
    _respond(statusCode::REQUEST_TOO_LARGE, message);
}

int ClassifyConnection::_readBlock(char* buffer) {
    using std::chrono::milliseconds;
    const auto requestLeft = std::chrono::ceil<milliseconds>(
        _connected + _params->requestTimeout - std::chrono::steady_clock::now());
    const bool idleFirst = _params->idleTimeout <= requestLeft;
    const milliseconds wait =
        std::max(milliseconds(0), std::min(_params->idleTimeout, requestLeft));
    if (wait.count() == 0 || !stream()->waitReadable(static_cast<int>(wait.count()))) {
        if (idleFirst) {
            throw ClientTimeoutException("The client with id " + _id + " sent nothing for " +
                                         std::to_string(_params->idleTimeout.count()) +
                                         " milliseconds.");
        }
        throw ClientTimeoutException("The client with id " + _id +
                                     " did not finish sending its request within " +
                                     std::to_string(_params->requestTimeout.count()) +
                                     " milliseconds of connecting.");
    }
    return stream()->readSome(buffer, BlockSize);
}

void ClassifyConnection::_writeAll(const std::string& text) {
    std::size_t sent = 0;
    do {
        const std::size_t part = std::min<std::size_t>(text.size() - sent, SocketStream::MaxSize);
        stream()->write(text.data() + sent, static_cast<std::uint32_t>(part));
        sent += part;
    } while (sent < text.size());
}

void ClassifyConnection::_respond(int code, const std::string& message) {
    try {
        try {
            _writeAll(_errorResponse->getErrorResponse(code, message));
            stream()->shutdown(SocketStream::Send);
        } catch (const SocketException& e) {
            _params->log->log(std::string("Failed to send status code to client. ") + e.what());
        }
    } catch (const std::bad_alloc&) {
        _params->log->error("Out of memory in ClassifyConnection::_respond.");
    }
}

}  // namespace norvale::quillmark
