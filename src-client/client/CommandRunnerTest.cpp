#include "client/CommandRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>

#include "io/filesystem/TempFolder.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "server/PostgresTestSupport.h"
#include "server/XmlErrorResponseImpl.h"
#include "testing/InProcessServer.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "util/Base64DecoderImpl.h"
#include "util/Base64EncoderImpl.h"

// Whole commands of the client, run in this process with captured streams, against the server's
// own connection road on a free port: over sockets, or through a relay that takes the place of
// the connection and records, reorders or replaces the answers.

namespace norvale::quillmark::client {
namespace {

using net::socket::test_support::Sockets;

// Stands in for the connection to the server: records each request and answers with what
// `answer` makes of it (an empty answer is a connection closed without a word). Given the
// order in which the client made its requests, the answer to each even-numbered one (counted
// from 0) waits until the next one has been answered, so the two arrive in reverse order; the
// client's order, not the arrival's, so that a waiting request never holds up its partner's
// sending. Called on the workers of the client's request window.
class Relay : public RequestSender {
public:
    using Answer = std::function<std::string(const std::string& request)>;
    using Order = std::function<std::size_t(const std::string& request)>;

    explicit Relay(Answer answer, Order swapInPairs = nullptr)
        : _answer(std::move(answer)), _order(std::move(swapInPairs)) {}

    std::string send(std::string_view request) override {
        std::unique_lock lock(_mutex);
        _requests.emplace_back(request);
        const std::size_t index = _order ? _order(_requests.back()) : 0;
        lock.unlock();
        const std::string answer = _answer(std::string(request));
        lock.lock();
        // Bounded, so that a client that never sends the partner fails instead of hanging.
        EXPECT_TRUE(!_order || index % 2 == 1 ||
                    _answered.wait_for(lock, std::chrono::seconds(20),
                                       [&] { return _done.count(index + 1) > 0; }))
            << "request " << index + 1 << " never came";
        _done.insert(index);
        _answered.notify_all();
        return answer;
    }

    std::vector<std::string> requests() const {
        std::lock_guard lock(_mutex);
        return _requests;
    }

private:
    const Answer _answer;
    const Order _order;
    mutable std::mutex _mutex;
    std::condition_variable _answered;
    // Guarded by _mutex.
    std::vector<std::string> _requests;
    std::set<std::size_t> _done;
};

// Passes every request on to the server at `port`.
Relay::Answer forwardTo(std::uint16_t port) {
    return
        [port](const std::string& request) { return testing::LoopbackClient::ask(port, request); };
}

std::string errorDocument(int statusCode, const std::string& message) {
    return XmlErrorResponseImpl("http://quillmark.invalid/1/server/ResponseSchema", "1.00")
        .getErrorResponse(statusCode, message);
}

// The texts a request carries, decoded, in document order. Searched, not matched with
// std::regex, whose matcher recurses once per character and overflows the stack on long texts.
std::vector<std::string> textsOf(const std::string& request) {
    const std::string open = "<textBase64 id=\"";
    std::vector<std::string> texts;
    for (std::size_t at = request.find(open); at != std::string::npos;
         at = request.find(open, at)) {
        const std::size_t begin = request.find('>', at) + 1;
        at = request.find("</textBase64>", begin);
        texts.push_back(util::Base64DecoderImpl().decode(request.substr(begin, at - begin)));
    }
    return texts;
}

struct ClientRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the client with the words of `command`, split at spaces (the port is added as an option),
// and `input` as standard input, on a clock that advances one second per reading; given a relay,
// the relay is its connection; given `output`, standard output goes there.
ClientRun runQuillmark(std::uint16_t port, const std::string& command,
                       const std::string& input = "", bool terminal = false, Relay* relay = nullptr,
                       std::function<bool()> interrupted = nullptr,
                       std::streambuf* output = nullptr) {
    Sockets sockets;
    std::istringstream in(input);
    std::ostringstream out, err;
    std::ostream sink(output != nullptr ? output : out.rdbuf());
    double now = 0;
    std::istringstream line("--port " + std::to_string(port) + " " + command);
    const std::vector<std::string> words{std::istream_iterator<std::string>(line), {}};
    const Environment environment{
        &in, &sink, &err, terminal, [&now] { return now += 1; }, nullptr, std::move(interrupted)};
    const util::Base64EncoderImpl encoder;
    const int status =
        relay == nullptr ? runClient(words, &sockets.clients, environment)
                         : CommandRunner(relay, &encoder, environment).run(parseCommandLine(words));
    return {status, out.str(), err.str()};
}

// A JSON document as Boost reads it (which refuses raw control characters and bytes that are no
// UTF-8): arrays are children with empty names, values are their texts.
using Json = boost::property_tree::ptree;
Json parseJson(const std::string& text) {
    std::istringstream in(text);
    Json json;
    boost::property_tree::read_json(in, json);
    return json;
}

// A folder of `count` files of about `size` bytes, every third in a sub-folder, which sorts after
// the top-level files. Returns their texts in path order.
std::vector<std::string> writeFolder(const io::filesystem::test::TempFolder& temp,
                                     const std::string& folder, int count, std::size_t size) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s/%s%04d.txt", folder.c_str(), i % 3 == 0 ? "sub/" : "",
                      i);
        std::string& text = files[name] = "text " + std::to_string(i) + " ";
        while (text.size() < size) text += static_cast<char>('a' + (i + text.size()) % 26);
        temp.write(name, text);
    }
    std::vector<std::string> contents;
    for (const auto& file : files) contents.push_back(file.second);
    return contents;
}

// Takes `room` bytes, then fails with ENOSPC; buffered, as std::cout is, so a short output fails
// only when it is flushed.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t room) : _room(room) { setp(_buffer, _buffer + sizeof _buffer); }

    std::string written;

protected:
    int overflow(int c) override {
        if (sync() != 0) return traits_type::eof();
        if (c != traits_type::eof()) sputc(static_cast<char>(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        const std::size_t taken = std::min(pending, _room - written.size());
        written.append(pbase(), taken);
        setp(_buffer, _buffer + sizeof _buffer);
        if (taken == pending) return 0;
        errno = ENOSPC;
        return -1;
    }

private:
    const std::size_t _room;
    char _buffer[64];
};

// Every case runs on classifier files and on a PostgreSQL database.
class CommandRunnerTest : public ::testing::TestWithParam<std::string> {
protected:
    // Runs a command against the server that must succeed.
    std::string ok(const std::string& command, const std::string& input = "") {
        const ClientRun run = runQuillmark(_port, command, input);
        EXPECT_EQ(run.status, exitStatus::Success) << command << ": " << run.err;
        return run.out;
    }

    void createNews(const std::string& classes) {
        ok("create news");
        ok("add-class news " + classes);
    }

    std::unique_ptr<testing::InProcessServer> server() {
        testing::InProcessOptions options;
        if (GetParam() == "postgres") {
            _database.emplace();
            options.postgresConnection = _database->connection();
            EXPECT_FALSE(options.postgresConnection.empty()) << "No cluster: run through ctest.";
        }
        // The lock folder is made by the first lock.
        std::filesystem::create_directories(_temp.path("classifiers"));
        return std::make_unique<testing::InProcessServer>(_temp.path("classifiers"),
                                                          _temp.path("locks"), &_log, options);
    }

    io::filesystem::test::TempFolder _temp;
    testing::RecordingLog _log;
    std::optional<testing::TestDatabase> _database;
    // The port is kept: after the server stops, connections to it are refused.
    std::unique_ptr<testing::InProcessServer> _server = server();
    const std::uint16_t _port = _server->port();
};
INSTANTIATE_TEST_SUITE_P(Store, CommandRunnerTest, ::testing::Values("files", "postgres"),
                         [](const auto& info) { return info.param; });
const std::string SportText =
    "The striker scored twice and the goalkeeper saved a penalty in the cup match. The coach "
    "praised the team after the final whistle of the league game.";
const std::string PoliticsText =
    "The minister presented the budget to parliament and the opposition promised to vote "
    "against the bill. The government wants to raise taxes before the election.";

// The README walkthrough (ClientReadmeWalkthrough) shows each command on one input; this shows
// the rest of their answers: several inputs, standard input, version 1.00, counts that go back.
TEST_P(CommandRunnerTest, EverySubCommandRoundTrips) {
    ok("create news");
    EXPECT_EQ(ok("info news"), "Classifier 'news' has no classes.\n");
    ok("add-class news sport politics a&b");
    EXPECT_EQ(ok("remove-class news a&b"), "Removed class 'a&b' from classifier 'news'.\n");
    const std::string sport = _temp.write("sport.txt", SportText);
    const std::string politics = _temp.write("politics.txt", PoliticsText);
    ok("train news politics -", PoliticsText);
    const std::string politicsOnly = ok("--json info news");
    EXPECT_EQ(ok("train news sport " + sport),
              "Trained 1 text (148 B) into class 'sport' of classifier 'news' in 1 request.\n");

    // Several texts are headed by their names; version 1.00 answers without the text coverage.
    EXPECT_EQ(ok("--version 1.00 classify news " + politics + " " + sport),
              politics + ":\n  politics  1\n  sport     4.76258e-13\n\n" + sport +
                  ":\n  sport     1\n  politics  1.35627e-12\n");
    // A keyword's bytes that are no UTF-8 come back as '?', so the answer stays well-formed.
    ok("train news sport -", "k\xf6ttbullar");
    const std::string shortFile = _temp.write("short.txt", "the striker and the minister");
    EXPECT_EQ(ok("keywords news - " + shortFile, "goalkeeper budget k\xf6ttbullar"),
              "-:\n  0.958265     politics  budget\n  0.954545     sport     goalkeeper\n"
              "  0.954545     sport     k?ttbullar\n\n" +
                  shortFile +
                  ":\n  0.958265     politics  minister\n  0.954545     sport     striker\n");
    EXPECT_EQ(ok("untrain news sport -", "k\xf6ttbullar"),
              "Untrained 1 text (10 B) from class 'sport' of classifier 'news' in 1 request.\n");

    // Untraining the same text takes exactly its counts back out.
    ok("untrain news sport " + sport);
    EXPECT_EQ(ok("--json info news"), politicsOnly);
    EXPECT_EQ(parseJson(politicsOnly).get_child("classes").size(), 2u);
    ok("remove news");
    EXPECT_EQ(runQuillmark(_port, "info news").status, exitStatus::ErrorDocument);
}

// Many files go in requests of bounded size; every text arrives once, in path order, with its
// bytes unchanged.
TEST_P(CommandRunnerTest, ManyFilesAreTrainedInBoundedRequests) {
    std::vector<std::string> contents = writeFolder(_temp, "corpus", 60, 300);
    std::string big(5120, '\0');  // every byte value, 20 times
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i);
    const std::string bigFile = _temp.write("big.txt", big);
    createNews("sport");
    Relay relay(forwardTo(_port));
    const std::size_t bound = 2048;
    const std::string command = "--max-request " + std::to_string(bound) + " train news sport ";
    const ClientRun run =
        runQuillmark(_port, command + _temp.path("corpus") + " " + bigFile, "", false, &relay);
    ASSERT_EQ(run.status, exitStatus::Success) << run.err;

    // Filled: three of these texts fit under the bound. The big text overflows any bound and
    // travels alone.
    const std::vector<std::string> requests = relay.requests();
    ASSERT_EQ(requests.size(), 60u / 3 + 1);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].size() <= bound, i + 1 < requests.size()) << i;
        for (const std::string& text : textsOf(requests[i])) texts.push_back(text);
    }
    EXPECT_EQ(textsOf(requests.back()).size(), 1u);
    contents.push_back(big);
    EXPECT_EQ(texts, contents);
    EXPECT_EQ(run.out, "Trained 61 texts (22.6 KB) into class 'sport' of classifier 'news' in " +
                           std::to_string(requests.size()) + " requests.\n");
    // Off a terminal: no bar.
    EXPECT_EQ(run.err, "");

    // On a terminal the bar shows while texts are sent; the last thing on the line is the
    // blanked bar, so the prompt starts clean.
    const ClientRun shown =
        runQuillmark(_port, "untrain news sport " + _temp.path("corpus"), "", true);
    const std::string bar = "\r[########################] 60/60 files  17.6 KB/17.6 KB";
    EXPECT_NE(shown.err.find(bar), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.back(), '\r');
}

// Answers to requests in flight together come back in reverse order; the output keeps the
// order of the files, as one request at a time gives it.
TEST_P(CommandRunnerTest, AnswersArrivingOutOfOrderArePrintedInInputOrder) {
    createNews("a b");
    ok("train news a -", "alpha words here");
    const std::vector<std::string> contents = writeFolder(_temp, "corpus", 8, 50);
    // Each text alone in its request: eight requests, answered in pairs swapped.
    const std::string command = "--max-request 1 classify news " + _temp.path("corpus");
    const ClientRun expected = runQuillmark(_port, "--parallel 1 " + command);
    ASSERT_EQ(expected.status, 0) << expected.err;
    Relay swapping(forwardTo(_port), [&](const std::string& request) {
        return static_cast<std::size_t>(
            std::find(contents.begin(), contents.end(), textsOf(request).front()) -
            contents.begin());
    });
    const ClientRun swapped = runQuillmark(_port, "--parallel 4 " + command, "", false, &swapping);
    EXPECT_EQ(swapped.status, 0) << swapped.err;
    EXPECT_EQ(swapped.out, expected.out);
    EXPECT_EQ(swapped.err.rfind("Classified 8 files, 400 B in 8 requests, ", 0), 0u) << swapped.err;
}

// Ctrl-C once two requests went out: the requests in flight are answered and printed (a JSON
// document stays whole), nothing more is sent, and the message counts the texts done.
TEST_P(CommandRunnerTest, AnInterruptedJobFinishesWhatIsInFlightAndSaysHowFarItGot) {
    createNews("a");
    writeFolder(_temp, "corpus", 30, 200);
    for (const std::string command : {"--parallel 1 train news a", "--parallel 3 classify news"}) {
        SCOPED_TRACE(command);
        Relay relay(forwardTo(_port));
        const ClientRun run =
            runQuillmark(_port, "--max-request 1500 --json " + command + " " + _temp.path("corpus"),
                         "", false, &relay, [&relay] { return relay.requests().size() >= 2; });
        EXPECT_EQ(run.status, exitStatus::Interrupted);
        std::size_t sent = 0;
        for (const std::string& request : relay.requests()) sent += textsOf(request).size();
        EXPECT_LT(sent, 30u);
        EXPECT_EQ(run.err, "quillmark: interrupted after " + std::to_string(sent) +
                               " of 30 texts; the rest were not sent.\n");
        if (command.find("classify") != std::string::npos) {
            EXPECT_EQ(parseJson(run.out).size(), sent);
        }
    }
    // Ctrl-C while standard input was read: the text read is not trained either.
    Relay relay(forwardTo(_port));
    int asked = 0;
    const ClientRun run = runQuillmark(_port, "train news a", SportText, false, &relay,
                                       [&asked] { return asked++ > 0; });
    EXPECT_EQ(run.status, exitStatus::Interrupted);
    EXPECT_EQ(relay.requests().size(), 0u);
    EXPECT_EQ(run.err, "quillmark: interrupted after 0 of 1 texts; the rest were not sent.\n");
}

// A failed batch stops the command; the batches the server acknowledged, before it or in flight
// beside it, stay trained and are counted in the message.
TEST_P(CommandRunnerTest, AFailedBatchSaysHowMuchWasTrained) {
    createNews("a");
    const std::vector<std::string> contents = writeFolder(_temp, "corpus", 30, 200);
    const std::string message = "The classifier has reached the maximum allowed size of 10 bytes.";
    const std::string documented =
        "the failed request changed nothing.\nquillmark: the server answered with status 4000:\n" +
        message + "\n";
    const std::string lost =
        "the request that got no answer may have been applied.\nquillmark: the server at "
        "localhost:" +
        std::to_string(_port) + " closed the connection without an answer.\n";
    const struct {
        const char* parallel;
        std::size_t requestsSent;
        const char* trainedBy;
        bool lost;
    } cases[] = {
        {"1", 3, "earlier", false}, {"3", 5, "the other", false}, {"1", 3, "earlier", true}};
    const std::string train = " --max-request 1500 train news a " + _temp.path("corpus");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parallel);
        // The third request: four texts a request. Its answer is an error document, or lost.
        Relay relay([&](const std::string& request) {
            const std::vector<std::string> texts = textsOf(request);
            if (std::find(texts.begin(), texts.end(), contents[8]) == texts.end())
                return forwardTo(_port)(request);
            return c.lost ? std::string() : errorDocument(4000, message);
        });
        const ClientRun run =
            runQuillmark(_port, "--parallel " + std::string(c.parallel) + train, "", false, &relay);
        EXPECT_EQ(run.status, c.lost ? exitStatus::Unreachable : exitStatus::ErrorDocument);
        const std::vector<std::string> requests = relay.requests();
        EXPECT_EQ(requests.size(), c.requestsSent);
        std::size_t trained = 0;
        for (std::size_t i = 0; i < requests.size(); ++i)
            trained += i != 2 ? textsOf(requests[i]).size() : 0;
        EXPECT_EQ(run.err, "quillmark: " + std::to_string(trained) +
                               " of 30 texts were trained by " + c.trainedBy + " requests; " +
                               (c.lost ? lost : documented));
        EXPECT_EQ(run.out, "");
    }
}

// Error documents reach the user whole with status 1; no server, a silent one or no response
// document ends with status 3; usage errors and unreadable files with status 2, before anything
// is sent; running out of memory with status 4. Send passes its document as it is.
TEST_P(CommandRunnerTest, FailuresEndWithTheirStatusAndMessage) {
    std::filesystem::create_directories(_temp.path("empty/sub"));
    const std::string longMessage = "Line one <&>\nline two" + std::string(5000, '.');
    const std::string answered = "the server answered with status ";
    const std::string notXml = "<not even=\"xml\"\x01\xff";
    const std::string validation = errorDocument(4000, "Validation of an request failed.");
    const struct {
        std::string command;
        int status;
        std::string err;                      // the start of standard error after "quillmark: "
        std::string answer = "";              // the relay's, to every request
        std::exception_ptr thrown = nullptr;  // by the relay instead of answering
    } cases[] = {
        {"--host 127.0.0.1 create news", exitStatus::Unreachable,
         "the server at 127.0.0.1:PORT closed the connection without an answer.\n"},
        {"create news", exitStatus::Unreachable,
         "the server at localhost:PORT gave no response document.\n", "HTTP/1.0 200 OK\r\n\r\nhi"},
        {"create news", exitStatus::ErrorDocument, answered + "4000:\n" + longMessage + "\n",
         errorDocument(4000, longMessage)},
        {"send -", exitStatus::ErrorDocument,
         answered + "4000:\nValidation of an request failed.\n", validation},
        {"train news a /nonexistent/x.txt", exitStatus::Usage,
         "Cannot read '/nonexistent/x.txt': No such file or directory.\n"},
        {"classify news /proc/self/mem", exitStatus::Usage,
         "Cannot read '/proc/self/mem': Input/output error.\n"},
        {"classify news " + _temp.path("empty"), exitStatus::Usage,
         "The folder '" + _temp.path("empty") + "' holds no files.\n"},
        {"send " + _temp.path("empty"), exitStatus::Usage,
         "'" + _temp.path("empty") + "' is a folder; send takes one request document.\n"},
        {"--host ::1 create news", exitStatus::Unreachable,
         "the server at [::1]:PORT gave no answer within 130 seconds.\n", "",
         std::make_exception_ptr(net::socket::TimeoutException("silent"))},
        {"create news", exitStatus::LocalFailure,
         "out of memory; an input may be too large to hold in memory.\n", "",
         std::make_exception_ptr(std::bad_alloc())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        Relay relay([&](const std::string&) {
            if (c.thrown) std::rethrow_exception(c.thrown);
            return c.answer;
        });
        const ClientRun run = runQuillmark(_port, c.command, notXml, false, &relay);
        EXPECT_EQ(run.status, c.status);
        const bool sent = c.command.rfind("send", 0) == 0 && c.status != exitStatus::Usage;
        EXPECT_EQ(run.out, sent ? validation + "\n" : "");
        const std::string expected =
            "quillmark: " + std::regex_replace(c.err, std::regex("PORT"), std::to_string(_port));
        EXPECT_EQ(run.err.substr(0, expected.size()), expected);
        EXPECT_EQ(relay.requests().size(), c.status == exitStatus::Usage ? 0u : 1u);
        if (sent) {
            EXPECT_EQ(relay.requests().at(0), notXml);
        }
    }
    EXPECT_EQ(runQuillmark(_port, "--help").status, exitStatus::Success);
    const ClientRun usage = runQuillmark(_port, "classify");
    EXPECT_EQ(usage.status, exitStatus::Usage);
    EXPECT_EQ(usage.err,
              "quillmark: Wrong number of arguments for classify. Usage: quillmark "
              "classify NAME [FILE...|-]\nTry 'quillmark --help'.\n");
    const Json missing = parseJson(runQuillmark(_port, "--json info nothere").out);
    EXPECT_EQ(missing.get<int>("statusCode"), 4000);
    EXPECT_NE(missing.get<std::string>("message").find("nothere"), std::string::npos);

    _server.reset();
    const ClientRun refused = runQuillmark(_port, "info news");
    EXPECT_EQ(refused.status, exitStatus::Unreachable);
    EXPECT_EQ(refused.err, "quillmark: cannot connect to the server at localhost:" +
                               std::to_string(_port) + ": Connection refused. Error code: 111.\n");
}

// Output that cannot be written (a full disk) ends the command with its message and status: after
// the final flush, or as soon as the answer that did not fit is written, with no further request
// sent.
TEST_P(CommandRunnerTest, OutputThatCannotBeWrittenEndsTheCommand) {
    createNews("a");
    // Each name alone fills FullDisk's buffer.
    writeFolder(_temp, "corpus/" + std::string(64, 'f'), 20, 0);
    const std::string corpus = _temp.path("corpus");
    ok("train news a " + corpus);
    const struct {
        std::string command;
        std::size_t room;
    } cases[] = {
        {"create other", 0},
        {"--max-request 1 --parallel 1 classify news " + corpus, 0},
        {"--json classify news " + corpus, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Relay relay(forwardTo(_port));
        FullDisk disk(c.room);
        const ClientRun run = runQuillmark(_port, c.command, "", false, &relay, nullptr, &disk);
        EXPECT_EQ(run.status, exitStatus::LocalFailure);
        EXPECT_EQ(relay.requests().size(), 1u);
        EXPECT_EQ(run.err, "quillmark: cannot write the output: No space left on device\n");
    }
}

}  // namespace
}  // namespace norvale::quillmark::client
