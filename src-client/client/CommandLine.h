#pragma once

// The command line of the quillmark client: a sub-command with its words and the options, which
// may stand anywhere ("--port 48080" or "--port=48080"; "--" ends the options, "-" is standard
// input). parseCommandLine checks the words against each sub-command's form and throws
// UsageException with a sentence for the user when they do not fit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptions/Exception.h"

namespace norvale::quillmark::client {

class UsageException : public exceptions::Exception {
public:
    using Exception::Exception;
};

enum class Command {
    Create,
    Remove,
    AddClass,
    RemoveClass,
    Train,
    Untrain,
    Classify,
    Keywords,
    Info,
    Send,
    Help
};

// The port of the server's default configuration (xml/config.xml).
inline constexpr std::uint16_t DefaultPort = 27182;
// Requests carrying several texts are kept at or below this many bytes, well under the input
// limit a server is usually given; a single text larger than that travels alone.
inline constexpr std::size_t DefaultMaxRequestBytes = 1024 * 1024;

// Requests in flight at once when --parallel is not given: reads use the client machine's
// cores, at most MaxDefaultParallel; the server runs the writes to one classifier one after the
// other, so train and untrain send one request at a time (see docs/PERFORMANCE.md).
inline constexpr std::size_t MaxDefaultParallel = 8;
inline constexpr std::size_t DefaultWriteParallel = 1;
// More connections than this would only queue at the server.
inline constexpr std::size_t MaxParallel = 64;

struct Invocation {
    Command command = Command::Help;
    std::string classifier;
    // add-class: the classes; remove-class, train, untrain: the one class.
    std::vector<std::string> classes;
    // Files, folders and "-"; empty means standard input.
    std::vector<std::string> inputs;

    std::string host = "localhost";
    std::uint16_t port = DefaultPort;
    bool json = false;
    std::string version = "1.01";
    std::size_t maxRequestBytes = DefaultMaxRequestBytes;
    // Requests in flight at once (train, untrain, classify, keywords); at least 1.
    std::size_t parallel = 1;
};

// The value of an environment variable, or null.
using VariableLookup = std::function<const char*(const char*)>;

// `words` are the arguments after the program name. QUILLMARK_HOST and QUILLMARK_PORT, when
// `variables` knows them, replace the default host and port; the options replace both.
Invocation parseCommandLine(const std::vector<std::string>& words,
                            const VariableLookup& variables = nullptr);

// The help text, for "quillmark --help" and after a usage error.
extern const char* const UsageText;

}  // namespace norvale::quillmark::client
