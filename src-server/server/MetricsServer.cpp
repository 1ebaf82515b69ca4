#include "server/MetricsServer.h"

#include <exception>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "net/server/ClientNetworks.h"
#include "net/socket/SocketExceptions.h"
#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"

namespace norvale::quillmark {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

constexpr std::string_view Path = "/metrics";
constexpr const char* PageType = "text/plain; version=0.0.4";
// A GET has no body; a small one is read so that other methods get their 405.
constexpr std::uint64_t MaxBodyBytes = 1024;

std::string_view pathOf(beast::string_view target) {
    return std::string_view(target.data(), target.size()).substr(0, target.find('?'));
}

}  // namespace

class MetricsServer::Road : public platform::thread::Runnable {
public:
    Road(const platform::thread::ThreadFactory* threads, const std::string& address,
         std::uint16_t port, std::function<std::string()> page)
        : _threads(threads), _page(std::move(page)), _acceptor(_io) {
        listen(tcp::endpoint(net::server::addressOf(address, "metrics"), port));
    }

    void start() {
        _thread = _threads->create(this);
        _thread->setName("MetricsIoThread");
        accept();
        _thread->start();
    }

    void stop() {
        if (!_thread || _stopped) return;
        _stopped = true;
        _io.stop();
        _thread->join();
    }

    std::uint16_t localPort() const { return _port; }

    void run() override {
        for (;;) {
            try {
                _io.run();
                return;
            } catch (const std::exception&) {
                // Only allocation can fail in a handler; that client is gone, the others go on.
            }
        }
    }

private:
    // One client's exchange; lives as long as a handler holds it.
    class Session : public std::enable_shared_from_this<Session> {
    public:
        Session(Road* road, tcp::socket socket) : _road(road), _stream(std::move(socket)) {
            ++_road->_clients;
            _parser.header_limit(static_cast<std::uint32_t>(MaxRequestBytes));
            _parser.body_limit(MaxBodyBytes);
        }
        ~Session() { --_road->_clients; }

        void read() {
            _stream.expires_after(Deadline);
            http::async_read(_stream, _buffer, _parser,
                             [self = shared_from_this()](beast::error_code failure, std::size_t) {
                                 if (!failure) self->answer();
                             });
        }

    private:
        void answer() {
            const auto& request = _parser.get();
            _response.version(11);
            _response.keep_alive(false);
            if (pathOf(request.target()) != Path) {
                _response.result(http::status::not_found);
                _response.body() = "Not found; the metrics are at /metrics.\n";
            } else if (request.method() != http::verb::get) {
                _response.result(http::status::method_not_allowed);
                _response.set(http::field::allow, "GET");
                _response.body() = "Only GET is served.\n";
            } else {
                _response.result(http::status::ok);
                _response.set(http::field::content_type, PageType);
                _response.body() = _road->_page();
            }
            _response.prepare_payload();
            _stream.expires_after(Deadline);
            http::async_write(
                _stream, _response, [self = shared_from_this()](beast::error_code, std::size_t) {
                    beast::error_code ignored;
                    self->_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
                });
        }

        Road* _road;
        beast::tcp_stream _stream;
        beast::flat_buffer _buffer{MaxRequestBytes};
        http::request_parser<http::string_body> _parser;
        http::response<http::string_body> _response;
    };

    void listen(const tcp::endpoint& endpoint) {
        boost::system::error_code failure;
        _acceptor.open(endpoint.protocol(), failure);
        // A restart binds at once although the last connections still linger.
        if (!failure) _acceptor.set_option(asio::socket_base::reuse_address(true), failure);
        if (!failure) _acceptor.bind(endpoint, failure);
        if (!failure) _acceptor.listen(asio::socket_base::max_listen_connections, failure);
        if (failure == asio::error::address_in_use) {
            throw net::socket::PortAlreadyInUseException(
                "The metrics port, " + std::to_string(endpoint.port()) + ", is already in use.");
        }
        if (failure) {
            throw net::socket::InitException("Could not listen on the metrics port " +
                                             std::to_string(endpoint.port()) + ". " +
                                             failure.message());
        }
        _port = _acceptor.local_endpoint().port();
    }

    void accept() {
        _acceptor.async_accept([this](boost::system::error_code failure, tcp::socket socket) {
            if (!_acceptor.is_open()) return;
            if (failure) {
                // Out of descriptors, most likely: the scraper waits in the backlog meanwhile.
                _retry.expires_after(std::chrono::milliseconds(100));
                _retry.async_wait([this](boost::system::error_code) { accept(); });
                return;
            }
            if (_clients < MaxClients) std::make_shared<Session>(this, std::move(socket))->read();
            accept();
        });
    }

    const platform::thread::ThreadFactory* _threads;
    const std::function<std::string()> _page;
    std::size_t _clients = 0;  // I/O thread only; declared before _io, which outlives sessions
    asio::io_context _io{1};
    tcp::acceptor _acceptor;
    asio::steady_timer _retry{_io};
    std::uint16_t _port = 0;
    std::unique_ptr<platform::thread::Thread> _thread;
    bool _stopped = false;
};

MetricsServer::MetricsServer(const platform::thread::ThreadFactory* threads,
                             const std::string& address, std::uint16_t port,
                             std::function<std::string()> page)
    : _road(std::make_unique<Road>(threads, address, port, std::move(page))) {}

MetricsServer::~MetricsServer() {
    stop();
}

void MetricsServer::start() {
    _road->start();
}

void MetricsServer::stop() {
    _road->stop();
}

std::uint16_t MetricsServer::localPort() const {
    return _road->localPort();
}

}  // namespace norvale::quillmark
