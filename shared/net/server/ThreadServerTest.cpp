#include "net/server/ThreadServer.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/server/ThreadServerTestSupport.h"
#include "net/socket/SocketTestSupport.h"
#include "platform/thread/ThreadImpl.h"

namespace {

using namespace net::server;
using namespace net::server::test_support;
using platform::thread::Runnable;
using platform::thread::Thread;
using platform::thread::ThreadException;

using Server = ThreadServer<EchoConnection, Probe*>;

const char* const AcceptFailure =
    "Error accepting a connection. Failed using the accept system call. ";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Counts the threads it makes, notes the kernel id of each by its name, and refuses to start the
// first `refusals` connection threads.
class CountingThreadFactory : public platform::thread::ThreadFactory {
public:
    std::unique_ptr<Thread> create(Runnable* runnable) const override {
        ++made;
        return std::make_unique<RefusingThread>(runnable, this);
    }

    // The kernel id of the thread named name, once it runs; 0 if none ran within 10 s.
    std::uint32_t idOf(const std::string& name) const {
        std::unique_lock lock(_mutex);
        _noted.wait_for(lock, 10s, [&] { return _ids.count(name) != 0; });
        return _ids.count(name) != 0 ? _ids[name] : 0;
    }

    mutable std::atomic<int> made{0};
    mutable std::atomic<int> refusals{0};

private:
    void note(const std::string& name) const {
        {
            std::lock_guard lock(_mutex);
            _ids[name] = platform::thread::currentThreadId();
        }
        _noted.notify_all();
    }

    class RefusingThread : public Thread, private Runnable {
    public:
        RefusingThread(Runnable* inner, const CountingThreadFactory* factory)
            : _inner(inner), _factory(factory), _real(factory->_real.create(this)) {}
        void start() override {
            if (_real->name() == Connection::ThreadName && _factory->refusals.fetch_sub(1) > 0) {
                throw ThreadException("Thread start refused.");
            }
            _real->start();
        }
        bool join(std::uint32_t timeoutMs) override { return _real->join(timeoutMs); }
        void join() override { _real->join(); }
        void terminate() override { _real->terminate(); }
        bool isCurrent() const override { return _real->isCurrent(); }
        const std::string& name() const override { return _real->name(); }
        void setName(const std::string& name) override { _real->setName(name); }

    private:
        void run() override {
            _factory->note(_real->name());
            _inner->run();
        }
        Runnable* _inner;
        const CountingThreadFactory* _factory;
        std::unique_ptr<Thread> _real;
    };

    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _real{&_os};
    mutable std::mutex _mutex;
    mutable std::condition_variable _noted;
    mutable std::map<std::string, std::uint32_t> _ids;
};

// Whether the thread with kernel id tid is blocked in the accept4 system call, as the kernel
// reports it ("<number> <arguments...>" while in a call).
bool inAccept(std::uint32_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    in >> number;
    return number == SYS_accept4;
}

class ThreadServerTest : public ::testing::Test {
protected:
    // A server on a port the system picks, both service threads started in the start-up order.
    Server& serve(std::uint32_t maxClients, ThreadServerLog* log) {
        _server = std::make_unique<Server>(&_threads, 0, maxClients, 16, &_probe, log);
        _server->createClientsThread()->start();
        _server->deleteClientsThread()->start();
        return *_server;
    }
    void TearDown() override {
        if (_server) _server->stop();
    }

    // stop wakes an accept with a failure only when the create thread has got there.
    bool createThreadInAccept() {
        const std::uint32_t tid = _threads.idOf(Server::CreateClientsThreadName);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (tid == 0 || !inAccept(tid)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    bool createdCount(std::size_t n) {
        return _probe.waitUntil([&] { return _probe.created.size() == n; });
    }
    std::vector<std::uint32_t> created() {
        return _probe.read([&] { return _probe.created; });
    }
    std::vector<std::uint32_t> destroyed() {
        return _probe.read([&] { return _probe.destroyed; });
    }

    CountingThreadFactory _threads;
    Probe _probe;
    RecordingLog _log;
    std::unique_ptr<Server> _server;
};

TEST_F(ThreadServerTest, BusyPortIsRefusedBeforeAnyThreadExists) {
    net::socket::test_support::LoopbackFactories factories;
    auto listener = factories.servers.create(0, 4);
    const std::uint16_t port = listener->localPort();
    try {
        Server server(&_threads, port, 2, 16, &_probe, &_log);
        FAIL() << "no exception";
    } catch (const net::socket::PortAlreadyInUseException& e) {
        EXPECT_EQ("The port, " + std::to_string(port) + ", is already in use.",
                  std::string(e.what()));
    }
    EXPECT_EQ(0, _threads.made.load());
    EXPECT_TRUE(_log.reports().empty());
}

TEST_F(ThreadServerTest, FreePortIsCheckedThenBoundAndNoClientlessServerNeedsAThread) {
    const std::uint16_t port = [] {
        net::socket::test_support::LoopbackFactories factories;
        return factories.servers.create(0, 1)->localPort();
    }();
    {
        Server server(&_threads, port, 2, 16, &_probe, &_log);
        EXPECT_EQ(port, server.localPort());
        EXPECT_EQ(2, _threads.made.load());
        EXPECT_EQ(Server::CreateClientsThreadName, server.createClientsThread()->name());
        EXPECT_EQ(Server::DeleteClientsThreadName, server.deleteClientsThread()->name());
        // Destroyed without its threads ever started: nothing to stop.
    }
    EXPECT_THROW(Server(&_threads, 0, 0, 16, &_probe, &_log), net::socket::PreconditionException);
}

TEST_F(ThreadServerTest, ThirdClientIsAcceptedOnlyAfterOneOfTwoEnds) {
    Server& server = serve(2, &_log);
    Client first(server.localPort());
    ASSERT_TRUE(createdCount(1));
    Client second(server.localPort());
    ASSERT_TRUE(createdCount(2));
    Client third(server.localPort());  // completes in the listen backlog
    third.send("c");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(2u, created().size());

    first.send("a");
    EXPECT_EQ("1:a", first.answer());
    EXPECT_EQ("3:c", third.answer());
    second.send("b");
    EXPECT_EQ("2:b", second.answer());
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3}), created());
    // The third connection was made only once the first was deleted and its permit returned.
    _probe.read([&] { EXPECT_EQ(1u, _probe.destroyedBeforeCreation[3]); });
    EXPECT_TRUE(_log.reports().empty());
}

TEST_F(ThreadServerTest, ClientThatLeavesAtOnceGoesThroughTheWholeLifecycle) {
    Server& server = serve(1, &_log);
    { Client gone(server.localPort()); }
    ASSERT_TRUE(_probe.waitUntil([&] { return _probe.destroyed.size() == 1; }));
    Client next(server.localPort());
    next.send("x");
    EXPECT_EQ("2:x", next.answer());
    ASSERT_TRUE(_probe.waitUntil([&] { return _probe.quit.size() == 2; }));
    _probe.read([&] {
        EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), _probe.quit);
        EXPECT_EQ("ConnnectionThread", _probe.ranOn[1]);
        EXPECT_EQ("DeleteClientsThread", _probe.deletedOn[1]);
        EXPECT_EQ(1u, _probe.destroyedBeforeCreation[2]);
    });
}

TEST_F(ThreadServerTest, FailedPassesAreLoggedUndoneAndTheirIdsNotReused) {
    _probe.failOnCreate = {{1, Probe::Failure::BadAlloc}, {2, Probe::Failure::IO}};
    _threads.refusals = 1;  // the first connection thread that gets as far as start: id 3
    Server& server = serve(1, &_log);
    for (int dropped = 0; dropped < 3; ++dropped) {
        Client client(server.localPort());
        EXPECT_EQ("", client.answer());  // the stream was deleted with the failed pass
    }
    Client served(server.localPort());
    served.send("y");
    EXPECT_EQ("4:y", served.answer());
    EXPECT_EQ((std::vector<std::uint32_t>{3, 4}), created());
    EXPECT_EQ((std::vector<std::string>{"bad alloc in ThreadServer::_create_clients",
                                        "Connection 2 refused.", "Thread start refused."}),
              _log.reports());
}

TEST_F(ThreadServerTest, StopAsksRunningConnectionsToStopAndDeletesThemAll) {
    Server& server = serve(4, &_log);
    Client first(server.localPort());
    Client second(server.localPort());
    first.send("partial");  // the first is done sending, but the second only waits
    ASSERT_TRUE(createdCount(2));
    EXPECT_EQ("1:partial", first.answer());
    // Deleted by the delete loop, so stop has only the second to stop.
    ASSERT_TRUE(_probe.waitUntil([&] { return _probe.destroyed.size() == 1; }));
    ASSERT_TRUE(createThreadInAccept());

    server.stop();
    EXPECT_EQ("2:", second.answer());  // its blocked read ended when stop shut its receive side
    _probe.read([&] {
        EXPECT_EQ((std::vector<std::uint32_t>{2}), _probe.stopped);
        EXPECT_EQ(2u, _probe.destroyed.size());
    });
    const std::vector<std::string> reports = _log.reports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_TRUE(startsWith(reports[0], AcceptFailure)) << reports[0];

    server.stop();  // the second call returns at once
    EXPECT_EQ(1u, _log.reports().size());
}

// A connection still running when the delete loop meets the end marker is joined and deleted by
// stop itself.
TEST_F(ThreadServerTest, StopDeletesConnectionsThatEndAfterTheDeleteLoop) {
    _probe.lingerAfterStop = 300ms;
    Server& server = serve(2, &_log);
    Client slow(server.localPort());
    ASSERT_TRUE(createdCount(1));
    server.stop();
    EXPECT_EQ("1:", slow.answer());
    _probe.read([&] {
        EXPECT_EQ((std::vector<std::uint32_t>{1}), _probe.destroyed);
        EXPECT_EQ("", _probe.deletedOn[1]);  // this test's own thread, not a service thread
    });
}

TEST_F(ThreadServerTest, ShutdownAcceptFailureGoesToTheLogOrNowhere) {
    {
        Server& server = serve(1, &_log);
        ASSERT_TRUE(createThreadInAccept());
        server.stop();
        const std::vector<std::string> reports = _log.reports();
        ASSERT_EQ(1u, reports.size());
        EXPECT_TRUE(startsWith(reports[0], AcceptFailure)) << reports[0];
        _server.reset();
    }
    // Without a log the same failure is dropped quietly, also while the create thread waits for
    // a permit rather than in accept.
    Server& server = serve(1, nullptr);
    Client holder(server.localPort());
    ASSERT_TRUE(createdCount(1));
    server.stop();
    EXPECT_EQ("1:", holder.answer());
    EXPECT_EQ(1u, destroyed().size());
}

TEST_F(ThreadServerTest, StopWithoutStartedThreadsReturns) {
    Server server(&_threads, 0, 1, 16, &_probe, &_log);
    server.stop();
    server.stop();
    EXPECT_TRUE(_log.reports().empty());
}

}  // namespace
