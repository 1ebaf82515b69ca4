#include "server/test/SelfTestRun.h"

#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "server/test/RandomBytes.h"
#include "server/test/TestClient.h"

namespace norvale::quillmark::test {

SelfTestRun::SelfTestRun(Log* log, std::uint16_t port,
                         const platform::thread::ThreadFactory* threads, std::string schemaFolder)
    : _log(log), _port(port), _threads(threads), _schemaFolder(std::move(schemaFolder)) {}

int SelfTestRun::run() {
    int passed = 0;
    try {
        _log->test("Testing connecting a client and not sending any data...");
        connectAndSendNothing();
        ++passed;
        _log->test("Testing connecting a client and sending some random data...");
        connectAndSendRandomData();
        ++passed;
        _log->test("Testing connecting a client and running xml test cases...");
        runTestCases();
        ++passed;
        _log->test("Testing connecting multiple client and running xml testcases...");
        runConcurrentTestCases();
        ++passed;
    } catch (const exceptions::Exception& e) {
        debug::assertion("false", e.what(), __FILE__, __LINE__);
    }
    return passed;
}

void SelfTestRun::connectAndSendNothing() {
    TestClient client(_threads, &_sockets, TestCaseClient::Host, _port, "");
    client.start();
    client.join();
}

void SelfTestRun::connectAndSendRandomData() {
    std::mt19937 random(std::random_device{}());
    TestClient client(_threads, &_sockets, TestCaseClient::Host, _port, randomBytes(random, 1000));
    client.start();
    client.join();
}

void SelfTestRun::runTestCases() {
    TestCaseClient client(_threads, &_sockets, _port, _schemaFolder);
    client.start();
    client.join();
}

void SelfTestRun::runConcurrentTestCases() {
    std::vector<std::unique_ptr<TestCaseClient>> clients;
    for (int i = 0; i < ConcurrentClients; ++i) {
        clients.push_back(
            std::make_unique<TestCaseClient>(_threads, &_sockets, _port, _schemaFolder));
    }
    for (auto& client : clients) client->start();
    for (auto& client : clients) client->join();
    clients.clear();
}

}  // namespace norvale::quillmark::test
