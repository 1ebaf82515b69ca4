#pragma once

// The server for the client's tests in this process: ClassifyServer (the real connection road:
// input read to the client's end, response, own sending side shut down) over the server's
// request execution, with classifier files in a temporary folder.

#include <filesystem>
#include <memory>
#include <string>

#include "client/ClientTestSupport.h"
#include "io/filesystem/TempFolder.h"
#include "server/RecordingLog.h"
#include "server/RequestServerTestSupport.h"

namespace norvale::quillmark::client::test {

class ConnectionServer {
public:
    ConnectionServer() {
        std::filesystem::create_directories(_temp.path("classifiers"));
        std::filesystem::create_directories(_temp.path("locks"));
        _server = std::make_unique<testing::RequestServer>(_temp.path("classifiers"),
                                                           _temp.path("locks"), &_log);
        _port = _server->port();
    }

    // Stays the same after stop.
    std::uint16_t port() const { return _port; }
    // Stops listening: later connections are refused.
    void stop() { _server.reset(); }

private:
    io::filesystem::test::TempFolder _temp;
    testing::RecordingLog _log;
    std::unique_ptr<testing::RequestServer> _server;
    std::uint16_t _port = 0;
};

}  // namespace norvale::quillmark::client::test
