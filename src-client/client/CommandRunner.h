#pragma once

// Runs one parsed command: builds its requests, sends them, reads the answers and prints the
// results. Texts from many files travel in requests of at most Invocation::maxRequestBytes
// (several texts with their calls each; a larger single text alone). Failures are reported on
// the error stream and turned into the exit status. Used by one thread.

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "client/CommandLine.h"
#include "client/InputTexts.h"
#include "client/Progress.h"
#include "client/RequestBuilder.h"
#include "client/RequestSender.h"
#include "client/ResultWriter.h"
#include "net/socket/ClientSocketFactory.h"
#include "util/Base64Encoder.h"

namespace norvale::quillmark::client {

namespace exitStatus {
inline constexpr int Success = 0;
// The server answered with an error document.
inline constexpr int ErrorDocument = 1;
// The command line does not fit, or an input file cannot be read.
inline constexpr int Usage = 2;
// No connection, a broken connection, or an answer that is no response document.
inline constexpr int Unreachable = 3;
}  // namespace exitStatus

// Where a command reads and writes. None of the pointers is owned.
struct Environment {
    std::istream* in;
    std::ostream* out;
    std::ostream* err;
    // Draw a progress bar on `err` (it is a terminal).
    bool terminal;
    Progress::Clock clock;
    // Environment variables (QUILLMARK_HOST, QUILLMARK_PORT); may be empty.
    VariableLookup variables;
};

class CommandRunner {
public:
    // `sender` and `encoder` are not owned.
    CommandRunner(RequestSender* sender, const util::Base64Encoder* encoder,
                  const Environment& environment);

    // Returns the exit status.
    int run(const Invocation& invocation);

private:
    // A request was answered with an error document (or its results are missing).
    struct Failure;

    void execute(const Invocation& invocation, ResultWriter& writer);
    void change(const Invocation& invocation, ResultWriter& writer);
    void information(const Invocation& invocation, ResultWriter& writer);
    void training(const Invocation& invocation, ResultWriter& writer);
    void reading(const Invocation& invocation, ResultWriter& writer);
    int send(const Invocation& invocation, ResultWriter& writer);

    // One text waiting in the request being filled.
    struct Pending {
        std::size_t text;
        std::string callId;
        std::uint64_t bytes;
    };
    using AddCalls = std::function<std::string(RequestBuilder&, const std::string& textId)>;
    using OnAnswer = std::function<void(const Response&, const std::vector<Pending>&)>;
    void sendTexts(const Invocation& invocation, const std::vector<InputText>& texts,
                   const AddCalls& addCalls, const OnAnswer& onAnswer, Progress& progress);

    // Sends one request; a successful response or Failure.
    Response exchange(const std::string& request);

    RequestSender* _sender;
    const util::Base64Encoder* _encoder;
    Environment _environment;
    InputTexts _inputs;
};

// The whole program after the process set-up: parses `words` (the arguments after the
// program name), connects through `sockets` (not owned) and runs the command.
int runClient(const std::vector<std::string>& words, net::socket::ClientSocketFactory* sockets,
              const Environment& environment);

}  // namespace norvale::quillmark::client
