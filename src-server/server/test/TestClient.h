#pragma once

// One client connection of the self test, on a thread of its own: connect, send the bytes, end
// the sending direction so the server sees the end of the request, and read the whole answer.
// The owner starts and joins it and reads the answer afterwards. An input/output failure is a
// failed check ("!_assertOnIOException") unless the client was told to tolerate it.

#include <cstdint>
#include <string>

#include "net/socket/ClientSocketFactory.h"
#include "platform/thread/InheritableThreadImpl.h"
#include "platform/thread/ThreadFactory.h"

namespace norvale::quillmark::test {

class TestClient : public platform::thread::InheritableThreadImpl {
public:
    // The factories are not owned and must outlive the client.
    TestClient(const platform::thread::ThreadFactory* threads,
               net::socket::ClientSocketFactory* sockets, std::string host, std::uint16_t port,
               std::string data, bool assertOnIOException = true);

    // One exchange with the server; the answer replaces the previous one.
    void run() override;

    const std::string& response() const { return _response; }

protected:
    void setData(std::string data) { _data = std::move(data); }

private:
    void exchange();

    net::socket::ClientSocketFactory* _sockets;
    std::string _host;
    std::uint16_t _port;
    std::string _data;
    bool _assertOnIOException;
    std::string _response;
};

}  // namespace norvale::quillmark::test
