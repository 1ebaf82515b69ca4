#include "net/server/Connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/server/ThreadServer.h"
#include "net/server/ThreadServerTestSupport.h"
#include "net/socket/SocketTestSupport.h"
#include "platform/mutex/BoundedBufferLockImpl.h"
#include "platform/thread/ThreadImpl.h"

namespace {

using namespace net::server;
using net::socket::test_support::ScratchDir;
using platform::mutex::BoundedBufferLockImpl;
using platform::thread::Runnable;
using platform::thread::Thread;

// Threads that are never started and note when they are destroyed, beside the streams below.
class NotingThread : public Thread {
public:
    explicit NotingThread(std::vector<std::string>* events) : _events(events) {}
    ~NotingThread() override { _events->push_back("thread"); }
    void start() override {}
    bool join(std::uint32_t) override { return true; }
    void join() override {}
    void terminate() override {}
    bool isCurrent() const override { return false; }
    const std::string& name() const override { return _name; }
    void setName(const std::string& name) override { _name = name; }

private:
    std::vector<std::string>* _events;
    std::string _name;
};

class NotingFactory : public platform::thread::ThreadFactory {
public:
    std::unique_ptr<Thread> create(Runnable*) const override {
        return std::make_unique<NotingThread>(&events);
    }
    mutable std::vector<std::string> events;
};

class NotingStream : public net::socket::SocketStream {
public:
    NotingStream(std::vector<std::string>* events, std::string name)
        : _events(events), _name(std::move(name)) {}
    ~NotingStream() override { _events->push_back(_name); }
    void shutdown(int) override {}
    void close() override {}
    void read(char*, std::uint32_t) override {}
    int readSome(char*, std::uint32_t) override { return 0; }
    int readUntil(char*, std::uint32_t, const char*) override { return 0; }
    void write(const char*, std::uint32_t) override {}
    std::string getPeerName() override { return ""; }
    std::string getLocalName() override { return ""; }
    bool waitReadable(int) override { return true; }

private:
    std::vector<std::string>* _events;
    std::string _name;
};

class IdleConnection : public Connection {
public:
    IdleConnection(std::uint32_t id, const platform::thread::ThreadFactory* factory)
        : Connection(id, factory) {}
    void run() override {}
    void stop() override {}
};

// A server's bookkeeping with room for capacity finished connections, one of them registered.
struct Bookkeeping {
    explicit Bookkeeping(std::size_t capacity) : finished(static_cast<std::uint32_t>(capacity)) {
        deletable.reserve(capacity);
    }
    Connection::Clients clients;
    Connection::DeletableClients deletable;
    BoundedBufferLockImpl finished;
};

TEST(ConnectionTest, NamesItsThreadAndDeletesItsStreamBeforeTheThread) {
    NotingFactory factory;
    Bookkeeping books(1);
    auto connection = std::make_unique<IdleConnection>(7, &factory);
    EXPECT_EQ("ConnnectionThread", connection->name());
    EXPECT_EQ(7u, connection->id());
    connection->attach(std::make_unique<NotingStream>(&factory.events, "first"), &books.clients,
                       &books.deletable, &books.finished, books.clients.end());
    connection->attach(std::make_unique<NotingStream>(&factory.events, "second"), &books.clients,
                       &books.deletable, &books.finished, books.clients.end());
    EXPECT_EQ((std::vector<std::string>{"first"}), factory.events);
    connection.reset();
    EXPECT_EQ((std::vector<std::string>{"first", "second", "thread"}), factory.events);
}

TEST(ConnectionTest, QuitQueuesThePositionForOneTake) {
    NotingFactory factory;
    Bookkeeping books(2);
    IdleConnection connection(1, &factory);
    Connection::Position position;
    {
        platform::mutex::AutoLock<Connection::Clients> lock(&books.clients);
        position = books.clients.insert({nullptr, &connection});
    }
    connection.attach(nullptr, &books.clients, &books.deletable, &books.finished, position);
    connection.quit();
    books.finished.beginTake();  // would block for ever had quit not filled a slot
    ASSERT_EQ(1u, books.deletable.size());
    EXPECT_TRUE(books.deletable.back() == position);
    books.finished.endTake(true);
}

class ConnectionDeathTest : public ::testing::Test {
protected:
    ScratchDir _scratch{"connection"};
};

TEST_F(ConnectionDeathTest, SecondQuitIsAFailedCheck) {
    EXPECT_DEATH(
        {
            _scratch.enterForDeath();
            NotingFactory factory;
            Bookkeeping books(2);
            IdleConnection connection(1, &factory);
            connection.attach(nullptr, &books.clients, &books.deletable, &books.finished,
                              books.clients.end());
            connection.quit();
            connection.quit();
        },
        "");
    EXPECT_NE(std::string::npos, _scratch.assertionReport().find("Message: !_hasQuit\n"));
}

TEST_F(ConnectionDeathTest, QuitIntoAFullQueueIsAFailedCheck) {
    EXPECT_DEATH(
        {
            _scratch.enterForDeath();
            NotingFactory factory;
            Bookkeeping books(1);
            books.deletable.push_back(books.clients.end());
            // The lock has a free slot the queue lacks: the check catches the mismatch.
            BoundedBufferLockImpl roomy(2);
            IdleConnection connection(1, &factory);
            connection.attach(nullptr, &books.clients, &books.deletable, &roomy,
                              books.clients.end());
            connection.quit();
        },
        "");
    EXPECT_NE(std::string::npos,
              _scratch.assertionReport().find(
                  "Message: _deletableClients->capacity() > _deletableClients->size()\n"));
}

// Threads that run their Runnable twice, to enter a service loop a second time.
class TwiceThread : public Thread, private Runnable {
public:
    TwiceThread(const platform::thread::OsInfo* os, Runnable* inner)
        : _inner(inner), _thread(os, this, "") {}
    void start() override { _thread.start(); }
    bool join(std::uint32_t timeoutMs) override { return _thread.join(timeoutMs); }
    void join() override { _thread.join(); }
    void terminate() override { _thread.terminate(); }
    bool isCurrent() const override { return _thread.isCurrent(); }
    const std::string& name() const override { return _thread.name(); }
    void setName(const std::string& name) override { _thread.setName(name); }

private:
    void run() override {
        _inner->run();
        _inner->run();
    }
    Runnable* _inner;
    platform::thread::ThreadImpl _thread;
};

class TwiceFactory : public platform::thread::ThreadFactory {
public:
    std::unique_ptr<Thread> create(Runnable* runnable) const override {
        return std::make_unique<TwiceThread>(&_os, runnable);
    }

private:
    platform::thread::OsInfoImpl _os;
};

using Server = ThreadServer<test_support::EchoConnection, test_support::Probe*>;

TEST_F(ConnectionDeathTest, EachServiceLoopMayBeEnteredOnce) {
    EXPECT_DEATH(
        {
            _scratch.enterForDeath();
            TwiceFactory factory;
            test_support::Probe probe;
            Server server(&factory, 0, 1, 4, &probe, nullptr);
            server.createClientsThread()->start();
            server.stop();
        },
        "");
    EXPECT_NE(std::string::npos,
              _scratch.assertionReport().find("Message: _create_clients_counter++ == 0\n"));
    EXPECT_DEATH(
        {
            _scratch.enterForDeath();
            TwiceFactory factory;
            test_support::Probe probe;
            Server server(&factory, 0, 1, 4, &probe, nullptr);
            server.deleteClientsThread()->start();
            server.stop();
        },
        "");
    EXPECT_NE(std::string::npos,
              _scratch.assertionReport().find("Message: _delete_clients_counter++ == 0\n"));
}

}  // namespace
