#pragma once

// A self-test client that runs the scripted request/response cases against the server on
// "localhost": bad requests, the shared stress classifiers, a functional classification and
// further bad requests, once with protocol version "1.00" and once with "1.01". Every check is a
// failed internal check when it does not hold, with the check's text as expression, so the first
// wrong answer ends the process with a report naming it. Many clients may run at once; each
// keeps its own random generator and response reader.

#include <cstdint>
#include <random>
#include <string>

#include "server/test/ResponseReader.h"
#include "server/test/TestClient.h"
#include "util/Base64EncoderImpl.h"

namespace norvale::quillmark::test {

class TestCaseClient : public TestClient {
public:
    static constexpr const char* Host = "localhost";
    static constexpr const char* DefaultSchemaFolder = "./xml/schemas/server/";

    TestCaseClient(const platform::thread::ThreadFactory* threads,
                   net::socket::ClientSocketFactory* sockets, std::uint16_t port,
                   std::string schemaFolder = DefaultSchemaFolder);

    void run() override;

private:
    void runCases(const std::string& version);
    void badRequests(const std::string& version);
    void sharedClassifiers(const std::string& version);
    void functional(const std::string& version);
    void furtherBadRequests(const std::string& version);

    // Sends one request on a connection of its own and reads the answer; `name` describes the
    // case in a failure report.
    ParsedResponse send(const std::string& name, const std::string& version,
                        const std::string& request);
    void expectBadRequest(const ParsedResponse& r);
    void expectSuccess(const ParsedResponse& r, const std::string& version, std::size_t calls);
    void expectVersion(const ParsedResponse& r, const std::string& version);

    std::string _schemaFolder;
    util::Base64EncoderImpl _encoder;
    std::mt19937 _random;
    const ResponseReader* _reader = nullptr;  // lives for the duration of run
    std::string _context;                     // description of the case being checked
};

}  // namespace norvale::quillmark::test
