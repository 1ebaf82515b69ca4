#include "client/CommandRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <sstream>
#include <utility>

#include "client/JsonResultWriter.h"
#include "client/RequestWindow.h"
#include "client/ResponseParser.h"
#include "client/SocketRequestSender.h"
#include "client/TextResultWriter.h"
#include "net/socket/SocketExceptions.h"
#include "util/Base64EncoderImpl.h"

namespace norvale::quillmark::client {

// Carries the whole server message: exceptions::Exception would cut it at 4095 characters.
struct CommandRunner::Failure {
    int statusCode;
    std::string message;
};

namespace {

// The server closed the connection without a word, or answered with something else than a
// response document.
struct NoAnswer {
    std::string message;
};

// The user stopped a job after the answers to `done` of its `total` texts.
struct Interrupted {
    std::uint64_t done;
    std::size_t total;
};

// The output stream failed; `error` is the errno of the write that failed (0: not known).
struct OutputFailure {
    int error;
};

// Throws OutputFailure once `out` has failed. Called right after writing, so errno still tells
// why.
void checkOutput(const std::ostream& out) {
    if (!out) throw OutputFailure{errno};
}

void flushOutput(std::ostream& out) {
    if (out) {
        errno = 0;
        out.flush();
    }
    checkOutput(out);
}

std::string describeOutputFailure(int error) {
    return std::string("quillmark: cannot write the output: ") +
           (error != 0 ? std::strerror(error) : "the stream failed") + "\n";
}

// Flushes the output. Output that could not be written is reported; it makes a success a
// failure, and a failure keeps its status.
int flushed(const Environment& environment, int status) {
    try {
        flushOutput(*environment.out);
        return status;
    } catch (const OutputFailure& failure) {
        *environment.err << describeOutputFailure(failure.error);
        return status == exitStatus::Success ? exitStatus::LocalFailure : status;
    }
}

// 130000 ms: "130 seconds"; 200 ms: "0.2 seconds".
std::string seconds(std::uint32_t milliseconds) {
    std::ostringstream text;
    text << milliseconds / 1000.0 << " seconds";
    return text.str();
}

// What is known of the request that failed: an error document, a connection refused or an input
// that could not be read leave the server as it was; a request whose answer got lost may have
// been committed.
const char* failedRequestOutcome(const std::exception_ptr& failure) {
    constexpr const char* Nothing = "the failed request changed nothing.";
    constexpr const char* Unknown = "the request that got no answer may have been applied.";
    try {
        std::rethrow_exception(failure);
    } catch (const NoAnswer&) {
        return Unknown;
    } catch (const net::socket::ConnectException&) {
        return Nothing;
    } catch (const net::socket::SocketException&) {
        return Unknown;
    } catch (...) {
        return Nothing;
    }
}

// The socket layer's messages end with a block of detail about the socket; the system's own
// words are what a user needs.
std::string systemReason(const char* message) {
    constexpr std::string_view Label = "System error message: ";
    const std::string text = message;
    const std::size_t at = text.find(Label);
    if (at == std::string::npos) return text;
    const std::size_t end = text.find('\n', at);
    return text.substr(at + Label.size(), end == std::string::npos ? end : end - at - Label.size());
}

// The largest request to build. One request at a time, that is the maximum the user allows. With
// several in flight, a job that would fill only a few maximal requests is cut finer, so that every
// connection gets work and building the next request overlaps the server's work on the others:
// about four requests per connection (Base64 and the call around each text counted), none smaller
// than MinParallelRequest unless the maximum is.
std::size_t requestBound(const Invocation& invocation, const std::vector<InputText>& texts) {
    constexpr std::uint64_t MinParallelRequest = 64 * 1024;
    constexpr std::uint64_t CallBytes = 200;
    if (invocation.parallel <= 1) return invocation.maxRequestBytes;
    std::uint64_t estimate = 0;
    for (const InputText& text : texts) estimate += (text.size + 2) / 3 * 4 + CallBytes;
    const std::uint64_t share =
        std::max<std::uint64_t>(estimate / (4 * invocation.parallel), MinParallelRequest);
    return static_cast<std::size_t>(std::min<std::uint64_t>(share, invocation.maxRequestBytes));
}

const char* pastTense(Command command) {
    return command == Command::Classify ? "Classified " : "Read keywords of ";
}

}  // namespace

CommandRunner::CommandRunner(RequestSender* sender, const util::Base64Encoder* encoder,
                             const Environment& environment)
    : _sender(sender),
      _encoder(encoder),
      _environment(environment),
      _inputs(environment.in, MaxTextBytes, environment.inDescriptor,
              environment.interruptDescriptor) {}

int CommandRunner::run(const Invocation& invocation) {
    std::unique_ptr<ResultWriter> writer;
    if (invocation.json) {
        writer = std::make_unique<JsonResultWriter>(_environment.out);
    } else {
        writer = std::make_unique<TextResultWriter>(_environment.out);
    }
    std::ostream& err = *_environment.err;
    // An IPv6 address is bracketed, so that its last group is not read as the port.
    const bool ipv6 = invocation.host.find(':') != std::string::npos;
    const std::string server = (ipv6 ? "[" + invocation.host + "]" : invocation.host) + ":" +
                               std::to_string(invocation.port);
    try {
        if (invocation.command == Command::Send)
            return flushed(_environment, send(invocation, *writer));
        execute(invocation, *writer);
        return flushed(_environment, exitStatus::Success);
    } catch (const Failure& failure) {
        writer->error(failure.statusCode, failure.message);
        err << "quillmark: the server answered with status " << failure.statusCode << ":\n"
            << failure.message << '\n';
        return flushed(_environment, exitStatus::ErrorDocument);
    } catch (const InputException& e) {
        err << "quillmark: " << e.what() << '\n';
        return exitStatus::Usage;
    } catch (const net::socket::ConnectException& e) {
        err << "quillmark: cannot connect to the server at " << server << ": "
            << systemReason(e.what()) << '\n';
        return exitStatus::Unreachable;
    } catch (const net::socket::TimeoutException&) {
        err << "quillmark: the server at " << server << " gave no answer within "
            << seconds(_environment.silenceMilliseconds) << ".\n";
        return exitStatus::Unreachable;
    } catch (const net::socket::SocketException& e) {
        err << "quillmark: the connection to the server at " << server
            << " failed: " << systemReason(e.what()) << '\n';
        return exitStatus::Unreachable;
    } catch (const NoAnswer& noAnswer) {
        err << "quillmark: the server at " << server << " " << noAnswer.message << '\n';
        return exitStatus::Unreachable;
    } catch (const Interrupted& stop) {
        err << "quillmark: interrupted after " << stop.done << " of " << stop.total
            << " texts; the rest were not sent.\n";
        return flushed(_environment, exitStatus::Interrupted);
    } catch (const OutputFailure& failure) {
        err << describeOutputFailure(failure.error);
        return exitStatus::LocalFailure;
    } catch (const std::bad_alloc&) {
        err << "quillmark: out of memory; an input may be too large to hold in memory.\n";
        return exitStatus::LocalFailure;
    }
}

void CommandRunner::execute(const Invocation& invocation, ResultWriter& writer) {
    switch (invocation.command) {
        case Command::Create:
        case Command::Remove:
        case Command::AddClass:
        case Command::RemoveClass:
            change(invocation, writer);
            break;
        case Command::Info:
            information(invocation, writer);
            break;
        case Command::Train:
        case Command::Untrain:
            training(invocation, writer);
            break;
        case Command::Classify:
        case Command::Keywords:
            reading(invocation, writer);
            break;
        case Command::Send:
        case Command::Help:
            break;
    }
}

Response CommandRunner::exchange(const std::string& request) const {
    const std::string answer = _sender->send(request);
    if (answer.empty()) throw NoAnswer{"closed the connection without an answer."};
    Response response;
    try {
        response = parseResponse(answer);
    } catch (const ResponseFormatException& e) {
        throw NoAnswer{std::string("gave no response document.\n") + e.what()};
    }
    if (!response.success) throw Failure{response.statusCode, response.message};
    return response;
}

void CommandRunner::change(const Invocation& invocation, ResultWriter& writer) {
    RequestBuilder builder(invocation.version, _encoder);
    builder.setWriteClassifier(invocation.classifier);
    Change done{"", invocation.classifier, invocation.classes};
    switch (invocation.command) {
        case Command::Create:
            done.action = "create";
            builder.create();
            break;
        case Command::Remove:
            done.action = "remove";
            builder.remove();
            break;
        case Command::AddClass:
            done.action = "addClass";
            for (const std::string& className : invocation.classes) builder.addClass(className);
            break;
        default:
            done.action = "removeClass";
            builder.removeClass(invocation.classes.front());
            break;
    }
    const Response response = exchange(builder.build());
    if (response.writeResults.size() != builder.callCount()) {
        throw NoAnswer{"answered " + std::to_string(response.writeResults.size()) + " of " +
                       std::to_string(builder.callCount()) + " calls."};
    }
    writer.changed(done);
}

void CommandRunner::information(const Invocation& invocation, ResultWriter& writer) {
    RequestBuilder builder(invocation.version, _encoder);
    const std::string id = builder.getInformation(invocation.classifier);
    const Response response = exchange(builder.build());
    const InformationResult* result = response.find<InformationResult>(id);
    if (result == nullptr) throw NoAnswer{"left the getInformation call unanswered."};
    writer.information(invocation.classifier, *result);
    checkOutput(*_environment.out);
}

void CommandRunner::training(const Invocation& invocation, ResultWriter& writer) {
    const std::vector<InputText> texts = _inputs.collect(invocation.inputs);
    const bool train = invocation.command == Command::Train;
    const std::string& className = invocation.classes.front();
    std::uint64_t totalBytes = 0;
    for (const InputText& text : texts) totalBytes += text.size;
    Progress progress(_environment.err, _environment.terminal && texts.size() > 1,
                      _environment.clock, texts.size(), totalBytes);
    const AddCalls addCalls = [&](RequestBuilder& builder, const std::string& textId) {
        builder.setWriteClassifier(invocation.classifier);
        return train ? builder.train(className, textId) : builder.untrain(className, textId);
    };
    const OnAnswer onAnswer = [&](const Response& response, const std::vector<Pending>& pending) {
        if (response.writeResults.size() != pending.size()) {
            throw NoAnswer{"answered " + std::to_string(response.writeResults.size()) + " of " +
                           std::to_string(pending.size()) + " calls."};
        }
    };
    std::uint64_t filesAfterFailure = 0;
    try {
        sendTexts(invocation, texts, addCalls, onAnswer, progress, filesAfterFailure);
    } catch (const Interrupted&) {
        progress.finish();
        throw;
    } catch (...) {
        progress.finish();
        if (progress.files() > 0) {
            *_environment.err << "quillmark: " << progress.files() << " of " << texts.size()
                              << " texts were " << (train ? "trained" : "untrained") << " by "
                              << (filesAfterFailure > 0 ? "the other" : "earlier") << " requests; "
                              << failedRequestOutcome(std::current_exception()) << "\n";
        }
        throw;
    }
    progress.finish();
    writer.trained({train ? "train" : "untrain", invocation.classifier, className, progress.files(),
                    progress.bytes(), progress.requests(), progress.seconds()});
}

void CommandRunner::reading(const Invocation& invocation, ResultWriter& writer) {
    const std::vector<InputText> texts = _inputs.collect(invocation.inputs);
    const bool classify = invocation.command == Command::Classify;
    std::uint64_t totalBytes = 0;
    for (const InputText& text : texts) totalBytes += text.size;
    Progress progress(_environment.err, _environment.terminal && texts.size() > 1,
                      _environment.clock, texts.size(), totalBytes);
    const AddCalls addCalls = [&](RequestBuilder& builder, const std::string& textId) {
        return classify ? builder.classify(invocation.classifier, textId)
                        : builder.classifyKeywords(invocation.classifier, textId);
    };
    const OnAnswer onAnswer = [&](const Response& response, const std::vector<Pending>& pending) {
        for (std::size_t at = 0; at < pending.size(); ++at) {
            const Pending& entry = pending[at];
            const std::string& label = texts[entry.text].label;
            if (classify) {
                const ClassifyResult* result = response.find<ClassifyResult>(entry.callId, at);
                if (result == nullptr)
                    throw NoAnswer{"left the classify call of " + label + " unanswered."};
                writer.classification(label, *result);
            } else {
                const KeywordsResult* result = response.find<KeywordsResult>(entry.callId, at);
                if (result == nullptr)
                    throw NoAnswer{"left the classifyKeywords call of " + label + " unanswered."};
                writer.keywords(label, *result);
            }
        }
        checkOutput(*_environment.out);
    };
    writer.beginTexts(texts.size());
    std::uint64_t filesAfterFailure = 0;
    try {
        sendTexts(invocation, texts, addCalls, onAnswer, progress, filesAfterFailure);
    } catch (const Interrupted&) {
        progress.finish();
        writer.endTexts();  // what came is a whole document
        throw;
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    writer.endTexts();
    flushOutput(*_environment.out);
    if (texts.size() > 1) {
        *_environment.err << pastTense(invocation.command) << progress.summary() << ".\n";
    }
}

void CommandRunner::sendTexts(const Invocation& invocation, const std::vector<InputText>& texts,
                              const AddCalls& addCalls, const OnAnswer& onAnswer,
                              Progress& progress, std::uint64_t& filesAfterFailure) {
    RequestWindow window(invocation.parallel,
                         [this](const std::string& request) { return exchange(request); });
    std::deque<Batch> sent;
    // `sent` and the window hold the same requests in the same order.
    const auto deliver = [&] {
        const Batch batch = std::move(sent.front());
        sent.pop_front();
        const Response response = window.take();
        onAnswer(response, batch.texts);
        progress.advance(batch.texts.size(), batch.bytes);
    };
    const std::size_t bound = requestBound(invocation, texts);
    RequestBuilder builder(invocation.version, _encoder);
    Batch filling;
    const auto flush = [&] {
        while (window.full()) deliver();
        window.submit(builder.build());
        sent.push_back(std::move(filling));
        filling = Batch();
        builder = RequestBuilder(invocation.version, _encoder);
        // One at a time: each answer is printed before the next files are read, as it always was.
        if (invocation.parallel == 1) deliver();
    };
    // A file that cannot be read ends the command after the answers to the requests before it,
    // as it would one request at a time.
    std::exception_ptr unreadable;
    const auto interrupted = [this] {
        return _environment.interrupted && _environment.interrupted();
    };
    bool stopped = false;
    try {
        for (std::size_t index = 0; index < texts.size(); ++index) {
            if (interrupted()) {
                stopped = true;
                break;
            }
            std::string bytes;
            try {
                bytes = _inputs.read(texts[index]);
            } catch (const InputInterruptedException&) {
                stopped = true;
                break;
            } catch (const InputException&) {
                unreadable = std::current_exception();
                break;
            }
            // Ctrl-C while the text was read (standard input from a terminal, a slow pipe)
            // stops before it is sent: the user may have meant to take it back.
            if (interrupted()) {
                stopped = true;
                break;
            }
            const std::string encoded = _encoder->encode(bytes);
            const RequestBuilder::Mark mark = builder.mark();
            std::string callId = addCalls(builder, builder.addEncodedText(encoded));
            // A text that overflows a request holding others starts the next request; alone it
            // is sent as it is, and the server decides whether it is too large.
            if (builder.size() > bound && !filling.texts.empty()) {
                builder.rollback(mark);
                flush();
                callId = addCalls(builder, builder.addEncodedText(encoded));
            }
            filling.texts.push_back({index, std::move(callId), bytes.size()});
            filling.bytes += bytes.size();
        }
        if (!unreadable && !stopped && !filling.texts.empty()) flush();
        while (window.waiting() > 0) deliver();
    } catch (...) {
        // What the requests still in flight did on the server is part of the outcome.
        while (window.waiting() > 0) {
            const Batch batch = std::move(sent.front());
            sent.pop_front();
            try {
                window.take();
            } catch (...) {
                continue;  // failed: changed nothing
            }
            progress.advance(batch.texts.size(), batch.bytes);
            filesAfterFailure += batch.texts.size();
        }
        throw;
    }
    if (unreadable) std::rethrow_exception(unreadable);
    if (stopped) throw Interrupted{progress.files(), texts.size()};
}

int CommandRunner::send(const Invocation& invocation, ResultWriter& writer) {
    if (!invocation.inputs.empty() && std::filesystem::is_directory(invocation.inputs.front())) {
        throw InputException("'" + invocation.inputs.front() +
                             "' is a folder; send takes one request document.");
    }
    const std::vector<InputText> texts = _inputs.collect(invocation.inputs);
    const std::string answer = _sender->send(_inputs.read(texts.front()));
    if (answer.empty()) throw NoAnswer{"closed the connection without an answer."};
    Response response;
    try {
        response = parseResponse(answer);
    } catch (const ResponseFormatException& e) {
        *_environment.out << answer << '\n';
        throw NoAnswer{std::string("gave no response document.\n") + e.what()};
    }
    writer.response(answer, response);
    checkOutput(*_environment.out);
    if (response.success) return exitStatus::Success;
    *_environment.err << "quillmark: the server answered with status " << response.statusCode
                      << ":\n"
                      << response.message << '\n';
    return exitStatus::ErrorDocument;
}

int runClient(const std::vector<std::string>& words, net::socket::ClientSocketFactory* sockets,
              const Environment& environment) {
    Invocation invocation;
    try {
        invocation = parseCommandLine(words, environment.variables);
    } catch (const UsageException& e) {
        *environment.err << "quillmark: " << e.what() << "\nTry 'quillmark --help'.\n";
        return exitStatus::Usage;
    }
    if (invocation.command == Command::Help) {
        *environment.out << UsageText;
        return flushed(environment, exitStatus::Success);
    }
    SocketRequestSender sender(sockets, invocation.host, invocation.port,
                               environment.silenceMilliseconds);
    const util::Base64EncoderImpl encoder;
    CommandRunner runner(&sender, &encoder, environment);
    return runner.run(invocation);
}

}  // namespace norvale::quillmark::client
