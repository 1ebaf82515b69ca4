#include "server/test/TestClient.h"

#include <cxxabi.h>

#include <memory>
#include <utility>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "net/socket/SocketStream.h"

namespace norvale::quillmark::test {

namespace {

constexpr std::size_t ReservedAnswerSize = 65536;

}  // namespace

TestClient::TestClient(const platform::thread::ThreadFactory* threads,
                       net::socket::ClientSocketFactory* sockets, std::string host,
                       std::uint16_t port, std::string data, bool assertOnIOException)
    : InheritableThreadImpl(threads),
      _sockets(sockets),
      _host(std::move(host)),
      _port(port),
      _data(std::move(data)),
      _assertOnIOException(assertOnIOException) {}

void TestClient::run() {
    try {
        exchange();
    } catch (const exceptions::Exception& e) {
        if (_assertOnIOException) {
            debug::assertion("!_assertOnIOException", e.what(), __FILE__, __LINE__);
        }
    } catch (const abi::__forced_unwind&) {
        throw;  // the thread is being cancelled; let it unwind
    } catch (...) {
        debug::assertion("false", "An unknown exception was thrown by a test client.", __FILE__,
                         __LINE__);
    }
}

void TestClient::exchange() {
    _response.clear();
    std::unique_ptr<net::socket::ClientSocket> socket = _sockets->create();
    net::socket::SocketStream* stream = socket->connect(_host, _port);
    stream->write(_data.data(), static_cast<std::uint32_t>(_data.size()));
    stream->shutdown(net::socket::SocketStream::Send);

    _response.reserve(ReservedAnswerSize);
    char buffer[4096];
    for (;;) {
        const int n = stream->readSome(buffer, sizeof buffer);
        if (n == 0) break;
        _response.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace norvale::quillmark::test
