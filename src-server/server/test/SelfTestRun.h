#pragma once

// The self-test driver: with the server already serving on `port`, it connects as ordinary
// clients and runs the four system tests in order, announcing each through the log's test
// operation. A failed check inside a test ends the process through the assertion routine, so a
// returned count always means every test ran; an exception escaping a test is reported the same
// way. Runs on the calling thread; the clients are threads of their own.

#include <cstdint>
#include <string>

#include "net/socket/ClientSocketFactoryImpl.h"
#include "net/socket/SocketStreamFactoryImpl.h"
#include "platform/thread/ThreadFactory.h"
#include "posix/net/SocketErrors.h"
#include "server/Log.h"
#include "server/test/TestCaseClient.h"

namespace norvale::quillmark::test {

class SelfTestRun {
public:
    static constexpr int ConcurrentClients = 15;

    // The log and the thread factory are not owned and must outlive the driver.
    SelfTestRun(Log* log, std::uint16_t port, const platform::thread::ThreadFactory* threads,
                std::string schemaFolder = TestCaseClient::DefaultSchemaFolder);

    // The number of tests that passed.
    int run();

private:
    void connectAndSendNothing();
    void connectAndSendRandomData();
    void runTestCases();
    void runConcurrentTestCases();

    Log* _log;
    std::uint16_t _port;
    const platform::thread::ThreadFactory* _threads;
    std::string _schemaFolder;
    posix::net::SocketErrors _socketErrors;
    net::socket::SocketStreamFactoryImpl _streams{&_socketErrors};
    net::socket::ClientSocketFactoryImpl _sockets{&_socketErrors, &_streams};
};

}  // namespace norvale::quillmark::test
