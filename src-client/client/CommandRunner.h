#pragma once

// Runs one parsed command: builds its requests, sends them, reads the answers and prints the
// results. Texts from many files travel in requests of at most Invocation::maxRequestBytes
// (several texts with their calls each; a larger single text alone). Failures are reported on
// the error stream and turned into the exit status. Up to Invocation::parallel requests are in
// flight at once, each on a connection of its own (a job is then cut into smaller requests, so
// that each connection gets several); answers are printed in input order. Used by one
// thread (the requests in flight are sent from the workers of a RequestWindow).

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
// The output could not be written, or the client ran out of memory (a failure reported before
// keeps its own status).
inline constexpr int LocalFailure = 4;
// Ctrl-C stopped a job of many texts; the answers that came are printed.
inline constexpr int Interrupted = 130;
}  // namespace exitStatus

// How long a server may go without taking or sending a byte before the client gives it up. The
// server keeps to limits of its own (a write waits at most 30 s for a lock held elsewhere, a
// database that stops answering is given up after about a minute), so a longer silence means it
// is stuck; the limit is also above the 120 s that README's HAProxy example waits for a server,
// so a balancer's own answer comes first.
inline constexpr std::uint32_t DefaultSilenceMilliseconds = 130'000;

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
    // True once the user asked a job of many texts to stop (Ctrl-C): the requests in flight are
    // answered and no more are sent. Asked first as such a job starts; may be empty.
    std::function<bool()> interrupted;
    // A server silent for longer is given up (exit status Unreachable).
    std::uint32_t silenceMilliseconds = DefaultSilenceMilliseconds;
    // Standard input as a descriptor, read instead of `in` when not -1.
    int inDescriptor = -1;
    // Readable once Ctrl-C came (-1: none): a read of an input that waits for bytes (a terminal,
    // a pipe without a writer) then ends the job as `interrupted` does.
    int interruptDescriptor = -1;
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
    // One request sent and not yet answered.
    struct Batch {
        std::vector<Pending> texts;
        std::uint64_t bytes = 0;
    };
    // Answers are handed to `onAnswer` and counted in `progress` in input order. When one fails,
    // the requests still in flight are waited for, their successful answers counted in `progress`
    // (not handed on) and their files added to `filesAfterFailure`.
    void sendTexts(const Invocation& invocation, const std::vector<InputText>& texts,
                   const AddCalls& addCalls, const OnAnswer& onAnswer, Progress& progress,
                   std::uint64_t& filesAfterFailure);

    // Sends one request; a successful response or Failure. Safe to call from several threads.
    Response exchange(const std::string& request) const;

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
