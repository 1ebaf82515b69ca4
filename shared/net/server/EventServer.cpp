#include "net/server/EventServer.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"
#include "posix/net/SocketErrors.h"

namespace net::server {

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = Connection::Clock;
using Step = Connection::Step;

constexpr std::size_t ReadBlockSize = 16384;
// Blocks read from one connection before the others get their turn.
constexpr int BlocksPerTurn = 4;
constexpr std::size_t BaseConnections = 1000;
constexpr std::size_t ConnectionsPerWorker = 4;
// Descriptors kept for the listening socket, the reactor, logs, classifier files and locks.
constexpr rlim_t DescriptorMargin = 64;
constexpr auto ReportInterval = std::chrono::seconds(1);
constexpr auto AcceptRetry = std::chrono::milliseconds(100);
// What an answer already under way at a stop still gets: a reading client has it by then, one
// that does not read is not waited for.
constexpr auto AnswerGrace = std::chrono::milliseconds(500);
// How often a watching thread looks whether the reactor has been left alone, and for how many
// looks without a request taken it keeps watching.
constexpr auto WatchInterval = std::chrono::milliseconds(1);
constexpr int QuietChecks = 1000;

// A thread body that calls one member of the road.
class Body : public platform::thread::Runnable {
public:
    explicit Body(std::function<void()> body) : _body(std::move(body)) {}
    void run() override { _body(); }

private:
    std::function<void()> _body;
};

// SO_REUSEADDR lets a second server bind a port that another process still listens on, so a
// busy port is found by connecting to it rather than by a failing bind.
// The address to listen on: every IPv4 interface when none is given.
asio::ip::address listenAddressOf(const std::string& text) {
    if (text.empty()) return asio::ip::address_v4::any();
    return addressOf(text, "listen");
}

// Whether the address is one of this machine's, so that a socket can be bound to it.
bool isOwn(const asio::ip::address& address) {
    asio::io_context io;
    tcp::socket probe(io);
    boost::system::error_code failure;
    probe.open(address.is_v4() ? tcp::v4() : tcp::v6(), failure);
    if (!failure) probe.bind(tcp::endpoint(address, 0), failure);
    return !failure;
}

// A listen address that is not this machine's is left to the bind to refuse: connecting to it
// would reach another host, or wait for the connection attempt to time out.
void checkPort(const asio::ip::address& address, std::uint16_t port) {
    if (port == 0 || !isOwn(address)) return;
    const std::string host = address.is_unspecified() ? "127.0.0.1" : address.to_string();
    posix::net::SocketErrors errors;
    net::socket::SocketStreamFactoryImpl streams(&errors);
    net::socket::ClientSocketFactoryImpl clients(&errors, &streams);
    std::unique_ptr<net::socket::ClientSocket> client = clients.create();
    try {
        client->connect(host, port);
    } catch (const net::socket::SocketException&) {
        return;
    }
    throw net::socket::PortAlreadyInUseException("The port, " + std::to_string(port) +
                                                 ", is already in use.");
}

}  // namespace

// The state of the server. The road's threads take turns at the reactor: one at a time runs its
// handlers (the leader), and a leader whose handler finds a complete request hands the reactor on
// (handOver) and runs that request itself, answer included, so that a request is not passed
// between threads on its way. Sessions, the acceptor and the counters below them belong to the
// leader of the moment; the leadership, the idle threads and the job queue are shared under
// _roadMutex, whose hand-overs order one leader's work before the next one's.
class EventServer::Road {
public:
    Road(const platform::thread::ThreadFactory* threads, std::uint16_t port,
         const EventServerLimits& limits, const ConnectionFactory* connections, EventServerLog* log,
         const EventServerAccess& access)
        : _threads(threads),
          _limits(limits),
          _allowedClients(access.allowedClients),
          _maxConnections(limits.maxConnections != 0 ? limits.maxConnections
                                                     : maxConnectionsFor(limits.workers)),
          _connections(connections),
          _log(log),
          _acceptor(_io),
          _acceptRetry(_io),
          _refusalReport(_io) {
        // Each worker is a thread made at start (and, on PostgreSQL, a database connection):
        // a count past any use, or a negative setting arriving as a huge one, ends start-up
        // rather than taking the machine's memory and threads.
        if (limits.workers == 0 || limits.workers > MaxWorkers) {
            throw net::socket::PreconditionException(
                "The maximum number of clients must be between 1 and " +
                std::to_string(MaxWorkers) + ".");
        }
        if (limits.backlog > 2147483647u) {
            throw net::socket::PreconditionException(
                "The queue number is too large. It has to be between 0 and 2147483647.");
        }
        const asio::ip::address address = listenAddressOf(access.listenAddress);
        checkPort(address, port);
        listen(tcp::endpoint(address, port));
    }

    // One thread more than requests run at once, so that one is always left for the reactor.
    void start() {
        _roadBody = std::make_unique<Body>([this] { roadThread(); });
        _idle.reserve(_limits.workers + 1);
        for (std::uint32_t i = 0; i <= _limits.workers; ++i) {
            _roadThreads.push_back(_threads->create(_roadBody.get()));
            _roadThreads.back()->setName("ServerRoadThread");
        }
        _started = true;
        accept();
        for (auto& thread : _roadThreads) thread->start();
    }

    void stop(std::chrono::milliseconds bound) {
        if (_stopped.exchange(true)) return;
        if (!_started) return;
        const Clock::time_point giveUp = Clock::now() + bound;
        asio::post(_io, [this, giveUp] { beginStop(giveUp); });
        while (Clock::now() < giveUp && !settled()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        {
            std::lock_guard lock(_roadMutex);
            _quit = true;
            _jobs.clear();
            // Notified under the lock: once called, a thread may see _quit and end, taking its
            // slot with it.
            while (IdleSlot* slot = callIdle()) slot->wake.notify_one();
        }
        _work.reset();
        _io.stop();
        // A thread running a request finishes it first.
        for (auto& thread : _roadThreads) thread->join();
        // Every thread has ended: what is left is closed here, and the handlers that still hold
        // connections run (each finds its connection closed) so that every connection has ended
        // when stop returns.
        _stopping = true;
        for (const auto& session : std::vector(_sessions.begin(), _sessions.end())) {
            close(session);
        }
        _acceptRetry.cancel();
        _io.restart();
        _io.poll();
    }

    std::uint16_t localPort() const { return _port; }
    std::size_t maxConnections() const { return _maxConnections; }

private:
    struct Session {
        Session(asio::io_context& io, tcp::socket accepted, std::unique_ptr<Connection> state)
            : socket(std::move(accepted)), timer(io), connection(std::move(state)) {}

        tcp::socket socket;
        asio::steady_timer timer;
        std::unique_ptr<Connection> connection;
        bool open = true;
        bool executing = false;
        bool answering = false;
        bool timed = false;    // the timer is armed
        std::size_t held = 0;  // bytes of its answer counted in _heldAnswers
        // When a stop closes it at the latest.
        Clock::time_point stopBy = Clock::time_point::max();
    };
    using SessionPtr = std::shared_ptr<Session>;

    // How much of an answer went out at once, or why none did.
    struct Sent {
        Step step;
        std::size_t bytes;
        boost::system::error_code failure;
    };

    void listen(const tcp::endpoint& any) {
        boost::system::error_code failure;
        _acceptor.open(any.protocol(), failure);
        if (failure) {
            throw net::socket::InitException("Error creating socket with the socket() call. " +
                                             failure.message());
        }
        _acceptor.set_option(asio::socket_base::reuse_address(true), failure);
        if (failure) {
            throw net::socket::ChangeStateException(
                "Error making socket reusable using setsockopt(). " + failure.message());
        }
        _acceptor.bind(any, failure);
        if (failure) {
            throw net::socket::InitException(
                "Could not bind the socket. Failed using the bind system call. " +
                failure.message());
        }
        _acceptor.listen(static_cast<int>(_limits.backlog), failure);
        if (failure) {
            throw net::socket::InitException(
                "Could not listen on socket. Failed using the listen system call. " +
                failure.message());
        }
        _port = _acceptor.local_endpoint().port();
    }

    void report(const std::string& text) {
        if (_log == nullptr) return;
        try {
            _log->report(text);
        } catch (const std::exception&) {
            // Nothing is left to tell it with.
        }
    }

    // --- the leader ---

    void accept() {
        _acceptor.async_accept(
            [this](const boost::system::error_code& failure, tcp::socket socket) {
                if (_stopping || !_acceptor.is_open()) return;
                if (failure) {
                    // Out of descriptors, most likely: the client waits in the backlog meanwhile.
                    report("Error accepting a connection. " + failure.message());
                    _acceptRetry.expires_after(AcceptRetry);
                    _acceptRetry.async_wait([this](const boost::system::error_code& cancelled) {
                        if (!cancelled && !_stopping) accept();
                    });
                    return;
                }
                admit(std::move(socket));
                accept();
            });
    }

    void admit(tcp::socket socket) {
        boost::system::error_code failure;
        if (!_allowedClients.empty()) {
            const tcp::endpoint client = socket.remote_endpoint(failure);
            if (failure || !_allowedClients.allows(client.address())) {
                socket.close(failure);
                refused(_refusedOutside);
                return;
            }
        }
        if (_sessions.size() >= _maxConnections) {
            socket.close(failure);
            refused(_refusedFull);
            return;
        }
        socket.non_blocking(true, failure);
        if (failure) return;
        auto session = std::make_shared<Session>(_io, std::move(socket),
                                                 _connections->create(++_connectionCounter));
        _sessions.insert(session);
        readAvailable(session);
    }

    // Refusals and dropped answers are told at most once per ReportInterval, with their counts.
    void refused(std::size_t& count) {
        ++count;
        if (_refusedFull + _refusedOutside + _droppedAnswers != 1) return;
        _refusalReport.expires_at(std::max(Clock::now(), _lastRefusalReport + ReportInterval));
        _refusalReport.async_wait([this](const boost::system::error_code&) {
            if (_refusedFull != 0) {
                report("Refused " + std::to_string(_refusedFull) + " connections: the limit of " +
                       std::to_string(_maxConnections) + " open connections was reached.");
            }
            if (_refusedOutside != 0) {
                report("Refused " + std::to_string(_refusedOutside) +
                       " connections from clients outside the allowed networks.");
            }
            if (_droppedAnswers != 0) {
                report("Dropped " + std::to_string(_droppedAnswers) +
                       " answers: the answers waiting for their clients to read them had reached "
                       "the bound of " +
                       std::to_string(_limits.heldAnswerBytes) + " bytes.");
            }
            _refusedFull = 0;
            _refusedOutside = 0;
            _droppedAnswers = 0;
            _lastRefusalReport = Clock::now();
        });
    }

    // Reads until the socket has nothing more (the reactor wakes on the next arrival only), or
    // until the connection wants something else than more bytes.
    void readAvailable(const SessionPtr& session) {
        for (int block = 0; block < BlocksPerTurn; ++block) {
            boost::system::error_code failure;
            const std::size_t size = session->socket.read_some(asio::buffer(_buffer), failure);
            if (failure == asio::error::would_block || failure == asio::error::try_again) {
                waitReadable(session);
                return;
            }
            if (failure == asio::error::eof) {
                proceed(session, session->connection->ended());
                return;
            }
            if (failure) {
                fail(session, failure);
                return;
            }
            const Step step = session->connection->received(_buffer.data(), size);
            if (step != Step::Read) {
                proceed(session, step);
                return;
            }
        }
        // Others' turn: the deadlines hold for a client that keeps sending, too.
        if (!session->timed) armTimer(session);
        asio::post(_io, [this, session] {
            if (session->open) readAvailable(session);
        });
    }

    // The timer runs from the first time the connection yields: a request that is all there at
    // once needs none.
    void waitReadable(const SessionPtr& session) {
        if (!session->timed) armTimer(session);
        session->socket.async_wait(tcp::socket::wait_read,
                                   [this, session](const boost::system::error_code& failure) {
                                       if (!session->open) return;
                                       if (failure) {
                                           fail(session, failure);
                                           return;
                                       }
                                       readAvailable(session);
                                   });
    }

    void proceed(const SessionPtr& session, Step step) {
        switch (step) {
            case Step::Read:
                waitReadable(session);
                return;
            case Step::Execute:
                execute(session);
                return;
            case Step::Answer:
                send(session);
                return;
            case Step::Drop:
                close(session);
                return;
        }
    }

    // The leader runs the request itself once its handler is done, if fewer than `workers` run;
    // otherwise it waits for the first thread to finish one. No deadline runs meanwhile: its
    // time is the server's.
    void execute(const SessionPtr& session) {
        session->executing = true;
        cancelTimer(session);
        std::lock_guard lock(_roadMutex);
        if (_running < _limits.workers && _claimed == nullptr) {
            ++_running;
            _claimed = session;
        } else {
            _jobs.push_back(session);
        }
    }

    // After a request ran: `sent` bytes of its answer went out on the thread that ran it.
    void executed(const SessionPtr& session, const Sent& sent) {
        session->executing = false;
        if (!session->open) return;
        if (sent.step != Step::Answer) {
            close(session);
            return;
        }
        sendRest(session, sent);
    }

    void send(const SessionPtr& session) { sendRest(session, sendAtOnce(*session, Step::Answer)); }

    // The rest of the answer, and so the timer, only when the socket did not take the whole.
    void sendRest(const SessionPtr& session, const Sent& sent) {
        session->answering = true;
        const std::string& answer = session->connection->answer();
        if (sent.failure && sent.failure != asio::error::would_block &&
            sent.failure != asio::error::try_again) {
            fail(session, sent.failure);
            return;
        }
        if (!sent.failure && sent.bytes == answer.size()) {
            close(session);
            return;
        }
        if (_limits.heldAnswerBytes != 0 && _heldAnswers != 0 &&
            answer.size() >
                _limits.heldAnswerBytes - std::min(_heldAnswers, _limits.heldAnswerBytes)) {
            refused(_droppedAnswers);
            cutOff(session);
            return;
        }
        session->held = answer.size();
        _heldAnswers += session->held;
        armTimer(session);
        asio::async_write(session->socket, asio::buffer(answer) + sent.bytes,
                          [this, session](const boost::system::error_code& failure, std::size_t) {
                              if (!session->open) return;
                              if (failure) {
                                  fail(session, failure);
                                  return;
                              }
                              boost::system::error_code ignored;
                              session->socket.shutdown(tcp::socket::shutdown_send, ignored);
                              close(session);
                          });
    }

    Clock::time_point deadlineOf(const Session& session) const {
        const Clock::time_point own = session.connection->deadline();
        return _stopping ? std::min({own, _stopDeadline, session.stopBy}) : own;
    }

    void cancelTimer(const SessionPtr& session) {
        if (!session->timed) return;
        session->timed = false;
        session->timer.cancel();
    }

    void armTimer(const SessionPtr& session) {
        session->timed = true;
        session->timer.expires_at(deadlineOf(*session));
        session->timer.async_wait([this, session](const boost::system::error_code& cancelled) {
            if (cancelled || !session->open || session->executing) return;
            const Clock::time_point now = Clock::now();
            if (_stopping && now >= std::min(_stopDeadline, session->stopBy)) {
                cutOff(session);
                return;
            }
            if (now < session->connection->deadline()) {
                armTimer(session);  // the client sent something meanwhile
                return;
            }
            session->connection->timedOut();
            cutOff(session);
        });
    }

    // An answer cut off at its deadline ends with a reset: a client that reads it later then
    // meets an error rather than an orderly end that makes the part it got look whole.
    void cutOff(const SessionPtr& session) {
        if (session->answering) {
            boost::system::error_code ignored;
            session->socket.set_option(asio::socket_base::linger(true, 0), ignored);
        }
        close(session);
    }

    void fail(const SessionPtr& session, const boost::system::error_code& failure) {
        session->connection->failed(failure.message());
        close(session);
    }

    void close(const SessionPtr& session) {
        if (!session->open) return;
        session->open = false;
        _heldAnswers -= session->held;
        session->held = 0;
        cancelTimer(session);
        boost::system::error_code ignored;
        session->socket.close(ignored);
        _sessions.erase(session);
        _open.store(_sessions.size());
    }

    // Idle and reading connections go at once, answers under way get AnswerGrace; requests
    // that run may still answer until the bound.
    void beginStop(Clock::time_point giveUp) {
        _stopping = true;
        _stopDeadline = giveUp;
        boost::system::error_code ignored;
        _acceptor.close(ignored);
        _acceptRetry.cancel();
        for (const auto& session : std::vector(_sessions.begin(), _sessions.end())) {
            if (session->executing) continue;
            if (session->answering) {
                session->stopBy = Clock::now() + AnswerGrace;
                armTimer(session);
            } else {
                close(session);
            }
        }
        _open.store(_sessions.size());
        _stopBegun.store(true);
    }

    bool settled() {
        if (!_stopBegun.load() || _open.load() != 0) return false;
        std::lock_guard lock(_roadMutex);
        return _running == 0 && _jobs.empty();
    }

    // --- every thread of the road ---

    // A thread that falls idle waits on a slot of its own, and the reactor goes to the thread
    // that fell idle last. Requests then stay on as few threads as the load needs, and so on as
    // few of malloc's per-thread heaps, each of which keeps the largest request it parsed.
    struct IdleSlot {
        std::condition_variable wake;
        bool called = false;
        bool watching = false;
    };

    // Under _roadMutex: takes the thread that fell idle last off the idle ones and marks it
    // called; the caller notifies it. Null when none is idle.
    IdleSlot* callIdle() {
        if (_idle.empty()) return nullptr;
        IdleSlot* slot = _idle.back();
        _idle.pop_back();
        slot->called = true;
        return slot;
    }

    // Leads while no other thread does, runs what it took while leading, and waits otherwise.
    void roadThread() {
        IdleSlot slot;
        while (awaitLead(slot)) {
            SessionPtr session = lead();
            if (session == nullptr) return;
            while (session != nullptr) {
                runRequest(std::move(session));
                std::lock_guard lock(_roadMutex);
                if (!_quit && !_jobs.empty()) {
                    session = std::move(_jobs.front());
                    _jobs.pop_front();
                } else {
                    --_running;
                }
            }
        }
    }

    // Waits until the reactor is free for this thread (true) or the road quits (false). A
    // watching thread takes it only once it has been left for a whole interval.
    bool awaitLead(IdleSlot& slot) {
        std::unique_lock lock(_roadMutex);
        for (;;) {
            if (_quit) return false;
            if (slot.watching) {
                if (watch(lock, slot)) break;
                continue;
            }
            if (!_leading) break;
            slot.called = false;
            _idle.push_back(&slot);
            slot.wake.wait(lock, [&slot] { return slot.called; });
        }
        _leading = true;
        ++_leads;
        return true;
    }

    // Looks every WatchInterval whether the reactor has been left alone since the look before,
    // and is true if so. Watching also ends when the thread is called (as any idle thread), and
    // after QuietChecks looks in which no request was taken: the reactor is only ever left by a
    // leader that takes a request.
    bool watch(std::unique_lock<std::mutex>& lock, IdleSlot& slot) {
        slot.called = false;
        _idle.push_back(&slot);
        bool left = false;  // at the look before
        bool take = false;
        std::uint64_t leads = _leads;
        std::uint64_t claims = _claims;
        for (int quiet = 0; quiet < QuietChecks && !_quit;) {
            if (slot.wake.wait_for(lock, WatchInterval, [&slot] { return slot.called; })) break;
            if (left && !_leading && _leads == leads) {
                take = true;
                break;
            }
            left = !_leading;
            quiet = _claims == claims ? quiet + 1 : 0;
            leads = _leads;
            claims = _claims;
        }
        if (!slot.called) std::erase(_idle, &slot);
        slot.watching = false;
        _watching = false;
        return take;
    }

    // Runs handlers until one of them takes a request for this thread, which is returned once
    // the reactor is handed over, or until the road stops (null).
    SessionPtr lead() {
        for (;;) {
            try {
                if (_io.run_one() == 0) return nullptr;
            } catch (const std::exception& e) {
                report(std::string("A connection handler failed. ") + e.what());
            }
            if (_claimed == nullptr) continue;
            SessionPtr session = std::exchange(_claimed, nullptr);
            handOver(_sessions.size() == 1);
            return session;
        }
    }

    // Leaves the reactor: to an idle thread at once while other connections are open, and
    // otherwise to a watching one. A lone client's requests are then read and run by one thread
    // without waking another in between, and a long one still leaves newcomers served within an
    // interval or two.
    void handOver(bool alone) {
        IdleSlot* next = nullptr;
        {
            std::lock_guard lock(_roadMutex);
            _leading = false;
            ++_claims;
            if (!alone || !_watching) next = callIdle();
            if (alone && next != nullptr) {
                next->watching = true;
                _watching = true;
            }
        }
        // Notified after the lock is let go, so that the thread does not wake only to wait for
        // it. The slot outlives this: a called thread ends only after taking its call.
        if (next != nullptr) next->wake.notify_one();
    }

    // Runs the request and sends what the socket takes of its answer. No handler touches an
    // executing session, so its socket is this thread's until the leader has it back.
    void runRequest(SessionPtr session) {
        const Step step = session->connection->execute();
        const Sent sent = sendAtOnce(*session, step);
        // The leader holds the last reference: a connection ends where it began.
        asio::post(_io, [this, session = std::move(session), sent] { executed(session, sent); });
    }

    // What the socket takes of an answer at once, without the reactor; the sending side is shut
    // once that is all of it.
    static Sent sendAtOnce(Session& session, Step step) {
        Sent sent{step, 0, {}};
        if (step != Step::Answer) return sent;
        const std::string& answer = session.connection->answer();
        sent.bytes = session.socket.write_some(asio::buffer(answer), sent.failure);
        if (!sent.failure && sent.bytes == answer.size()) {
            boost::system::error_code ignored;
            session.socket.shutdown(tcp::socket::shutdown_send, ignored);
        }
        return sent;
    }

    const platform::thread::ThreadFactory* _threads;
    const EventServerLimits _limits;
    const ClientNetworks _allowedClients;
    const std::size_t _maxConnections;
    const ConnectionFactory* _connections;
    EventServerLog* _log;

    // One thread at a time runs it.
    asio::io_context _io{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> _work{
        asio::make_work_guard(_io)};
    tcp::acceptor _acceptor;
    asio::steady_timer _acceptRetry;
    asio::steady_timer _refusalReport;
    std::uint16_t _port = 0;

    // The leader's.
    std::unordered_set<SessionPtr> _sessions;
    SessionPtr _claimed;  // the request a handler took for the leader's own thread
    std::array<char, ReadBlockSize> _buffer{};
    std::uint32_t _connectionCounter = 0;
    std::size_t _refusedFull = 0;     // refused since the last report: too many open
    std::size_t _refusedOutside = 0;  // and from outside the allowed networks
    std::size_t _droppedAnswers = 0;  // answers dropped since the last report
    std::size_t _heldAnswers = 0;     // bytes of the answers sessions hold
    Clock::time_point _lastRefusalReport{};
    bool _stopping = false;
    Clock::time_point _stopDeadline = Clock::time_point::max();

    // Read by the stopping thread.
    std::atomic<std::size_t> _open{0};
    std::atomic<bool> _stopBegun{false};

    // Guards the leadership and its counts, _jobs, _idle, _running and _quit.
    std::mutex _roadMutex;
    bool _leading = false;      // a thread runs the reactor
    bool _watching = false;     // an idle thread watches it
    std::uint64_t _leads = 0;   // times a thread took the reactor
    std::uint64_t _claims = 0;  // requests taken by the leader
    // Complete requests that wait for one of the `workers` that run at once to finish.
    std::deque<SessionPtr> _jobs;
    std::vector<IdleSlot*> _idle;  // the thread that fell idle last at the back
    std::size_t _running = 0;
    bool _quit = false;

    std::unique_ptr<Body> _roadBody;
    std::vector<std::unique_ptr<platform::thread::Thread>> _roadThreads;
    bool _started = false;
    std::atomic<bool> _stopped{false};
};

EventServer::EventServer(const platform::thread::ThreadFactory* threads, std::uint16_t port,
                         const EventServerLimits& limits, const ConnectionFactory* connections,
                         EventServerLog* log, const EventServerAccess& access)
    : _road(std::make_unique<Road>(threads, port, limits, connections, log, access)) {}

EventServer::~EventServer() {
    stop();
}

void EventServer::start() {
    _road->start();
}

void EventServer::stop(std::chrono::milliseconds bound) {
    _road->stop(bound);
}

std::uint16_t EventServer::localPort() const {
    return _road->localPort();
}

std::size_t EventServer::maxConnections() const {
    return _road->maxConnections();
}

std::size_t EventServer::maxConnectionsFor(std::uint32_t workers) {
    const std::size_t wanted = ConnectionsPerWorker * workers + BaseConnections;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return wanted;
    const rlim_t usable = files.rlim_cur > DescriptorMargin ? files.rlim_cur - DescriptorMargin : 1;
    return std::min<std::size_t>(wanted, static_cast<std::size_t>(usable));
}

}  // namespace net::server
