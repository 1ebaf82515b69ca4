#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/server/Connection.h"
#include "net/socket/SocketExceptions.h"
#include "platform/thread/ThreadFactory.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponse.h"
#include "server/StringClassifier.h"

namespace norvale::quillmark {

// A client that kept silent too long, or has not ended its request in time after it connected.
// A socket failure like any other: the connection is dropped without an answer.
class ClientTimeoutException : public net::socket::SocketException {
public:
    using net::socket::SocketException::SocketException;
};

// Serves one accepted client on its own thread, run by ThreadServer<ClassifyConnection,
// const ConnectionParams*>: reads one request until the client ends its sending side (at most
// maxInput bytes; a longer one is drained and answered with status 4013 once the client has
// finished sending), has it executed by a fresh StringClassifier, writes the answer and ends
// its own sending side. Failures of the connection itself are logged and, where the socket still
// allows it, answered with an error document. The params are shared and not owned.
// stop may be called from the server's stopping thread; everything else runs on the
// connection's own thread.
class ClassifyConnection : public net::server::Connection {
public:
    // Requests are read in blocks of this size into a text reserved with ReservedRequestSize.
    static constexpr std::uint32_t BlockSize = 16384;
    static constexpr std::size_t ReservedRequestSize = 65536;

    // Logs "Creating connection with id <id>"; the request deadline counts from here.
    ClassifyConnection(const platform::thread::ThreadFactory* factory, std::uint32_t id,
                       const ConnectionParams* params);
    // Logs "Finished connection with id <id>".
    ~ClassifyConnection() override;

    void run() override;
    // Sets the stop flag and shuts down the receiving side of the socket, so that a read that
    // blocks ends at once; the connection then ends without answering.
    void stop() override;

private:
    enum class Request { Complete, Stopped, Refused };

    void _serveLoggingFailures();
    void _serve();
    Request _readRequest(std::string& request);
    void _refuseTooLarge(char* buffer);
    // One block from the client (0 at the end of its request), waiting no longer than the idle
    // and request deadlines allow.
    int _readBlock(char* buffer);
    void _writeAll(const std::string& text);
    void _respond(int code, const std::string& message);
    void _finish() noexcept;

    std::atomic<bool> _stop{false};
    const ConnectionParams* _params;
    const std::string _id;
    const std::unique_ptr<ErrorResponse> _errorResponse;
    const std::chrono::steady_clock::time_point _connected;
    // Held by stop while it shuts the stream down and by the closer while it closes it.
    std::mutex _streamLock;
};

}  // namespace norvale::quillmark
