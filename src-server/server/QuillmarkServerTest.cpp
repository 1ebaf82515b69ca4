// Tests of the built quillmarkserver executable, run as a child process in a folder of its own
// that holds a copy of the executable, the schemas and a configuration on a free port. Every
// child is started from "/" so that it has to find its files beside its executable.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "io/filesystem/TemporarySaveName.h"
#include "testing/LoopbackClient.h"
#include "testing/Requests.h"
#include "testing/ServerProcess.h"

namespace {

namespace fs = std::filesystem;
using io::filesystem::TemporarySaveName;
using io::filesystem::test::TempFolder;
using norvale::quillmark::testing::LoopbackClient;
using norvale::quillmark::testing::ServerProcess;
using namespace norvale::quillmark::testing;
using namespace std::chrono_literals;

struct Outcome {
    int exitCode = -1;  // -1 when the child ended by a signal
    std::string out;
    std::string err;
};

// A socket bound to a free loopback port; listening when asked, closed with the object.
class PortHolder {
public:
    explicit PortHolder(bool listen) : _socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            (listen && ::listen(_socket, 4) != 0)) {
            ADD_FAILURE() << "no free port: " << std::strerror(errno);
        }
        _port = ntohs(address.sin_port);
    }
    ~PortHolder() { ::close(_socket); }

    std::uint16_t port() const { return _port; }

private:
    int _socket;
    std::uint16_t _port = 0;
};

std::uint16_t freePort() {
    return PortHolder(false).port();
}

std::string ask(std::uint16_t port, const std::string& request) {
    return LoopbackClient::ask(port, request);
}

class QuillmarkServerTest : public ::testing::Test {
protected:
    QuillmarkServerTest() : _root(_folder.path("server")) {
        fs::create_directories(_root / "xml/schemas/config");
        fs::create_directories(_root / "xml/schemas/server");
        for (const char* schema :
             {"config/ConfigSchema.xsd", "server/RequestSchema.xsd", "server/ResponseSchema.xsd"}) {
            fs::copy_file(fs::path(QM_SCHEMA_DIR) / schema, _root / "xml/schemas" / schema);
        }
        std::error_code linkFailed;
        fs::create_hard_link(QM_SERVER_EXECUTABLE, executable(), linkFailed);
        if (linkFailed) fs::copy_file(QM_SERVER_EXECUTABLE, executable());
        writeConfig(freePort());
    }

    std::string executable() const { return (_root / "quillmarkserver").string(); }

    void writeConfig(std::uint16_t port, const std::string& classifierRoot = "./classifiers/",
                     const std::string& saveRequests = "false") {
        _port = port;
        const std::string text =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<quillmark xmlns=\"http://quillmark.invalid/1/config/ConfigSchema\">\n<port>" +
            std::to_string(port) +
            "</port><maxInput>1048576</maxInput><maxClients>20</maxClients>"
            "<clientQueueSize>20</clientQueueSize><classifierRootPath>" +
            classifierRoot + "</classifierRootPath><logLevel>log</logLevel>"
            "<logMemory>false</logMemory><saveRequests>" + saveRequests +
            "</saveRequests>\n</quillmark>\n";
        _folder.write("server/config.xml", text);
    }

    // Starts the executable from "/" with its output in files.
    ServerProcess spawn(const std::vector<std::string>& args) {
        std::vector<std::string> words = {executable()};
        words.insert(words.end(), args.begin(), args.end());
        return ServerProcess(words, _folder.path("out.txt"), _folder.path("err.txt"));
    }

    // Waits for the child (killing it after five minutes) and collects its output.
    Outcome finish(ServerProcess& child) {
        Outcome outcome;
        outcome.exitCode = child.wait();
        EXPECT_NE(-2, outcome.exitCode) << "the server did not end";
        outcome.out = TempFolder::read(_folder.path("out.txt"));
        outcome.err = TempFolder::read(_folder.path("err.txt"));
        return outcome;
    }

    Outcome run(const std::vector<std::string>& args) {
        ServerProcess child = spawn(args);
        return finish(child);
    }

    std::string logText() const { return TempFolder::read((_root / "logs/log.txt").string()); }

    // Waits until the log holds `text`, at most two minutes.
    bool waitForLog(const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (logText().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    TempFolder _folder;
    fs::path _root;
    std::uint16_t _port = 0;
};

// Start-ups that fail: each ends with 1 before the server starts, with its message in the log
// file after the lines listed before it, and on the console, which is on until the command line
// has been read (also with -quiet) and is the journal under -scm. The texts of each command-line
// refusal are StartupTest's; here two of them run the process.
TEST_F(QuillmarkServerTest, FailedStartupsAreLoggedInOrderAndExitWithOne) {
    const PortHolder busy(true);
    const std::string port = std::to_string(busy.port());
    const std::string failed = "An exception occured when trying to startup the server. ";
    const struct {
        std::vector<std::string> args;
        std::string classifierRoot;
        bool busyPort;
        std::vector<std::string> logged;  // in this order
        std::string console;
    } cases[] = {
        {{}, "./classifiers/", false,
         {"[Error] [ThreadId: ", "No arguments specified.", "\nFlags:\n-config\t\t",
          "\nquillmarkserver -config config.xml\n"},
         "No arguments specified."},
        {{"-config", "config.xml", "-quiet", "-quiet"}, "./classifiers/", false,
         {"[Error] [ThreadId: ", "The flag -quiet was used more than once.", "\nFlags:\n"},
         "The flag -quiet was used more than once."},
        {{"-config", "missing.xml"}, "./classifiers/", false,
         {failed + "Error when loading the XML document"}, failed},
        {{"-scm", "-config", "config.xml"}, "./classifiers/", false,
         {failed + "Could not start service dispatcher"}, "\n<3>" + failed},
        {{"-config", "config.xml"}, "./classifiers/", true,
         {failed + "The port, " + port + ", is already in use."},
         failed + "The port, " + port + ", is already in use."},
        {{"-config", "config.xml"}, "/nonexistent/quillmark/classifiers/", false,
         {"Initializing server v2.40", "Using config settings:\n",
          "System settings:\nTotal physical memory: ", "MB\nAvailable disk space on /: ",
          failed + "The root training path '/nonexistent/quillmark/classifiers/' doesn't "
                   "exist. Make sure you create it!"},
         failed + "The root training path"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        std::error_code ignored;
        fs::remove(_root / "logs/log.txt", ignored);
        writeConfig(row.busyPort ? busy.port() : freePort(), row.classifierRoot);
        const Outcome outcome = run(row.args);
        EXPECT_EQ(1, outcome.exitCode) << outcome.out << outcome.err;
        const std::string log = logText();
        std::size_t at = 0;
        for (const std::string& line : row.logged) {
            at = log.find(line, at);
            ASSERT_NE(std::string::npos, at) << line << "\n" << log;
        }
        EXPECT_NE(std::string::npos, outcome.out.find(row.console)) << outcome.out;
        EXPECT_EQ(std::string::npos, log.find("Starting server")) << log;
        EXPECT_EQ(std::string::npos, log.find("<3>")) << log;  // no journal prefix in the file
    }
}

// Quiet: nothing on the console while the log file gets every line.
TEST_F(QuillmarkServerTest, QuietSelfTestPassesWithTheDefaultRootAndArchivesNothing) {
    writeConfig(freePort(), "", "true");
    const Outcome outcome = run({"-quiet", "-test", "-config", "config.xml"});
    ASSERT_EQ(0, outcome.exitCode) << outcome.out << outcome.err;
    EXPECT_EQ("", outcome.out);
    const std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("Executing " + executable() + " -quiet -test"));
    EXPECT_NE(std::string::npos,
              log.find("Starting server on port " + std::to_string(_port) + "."));
    EXPECT_NE(std::string::npos, log.find("Running system tests."));
    EXPECT_NE(std::string::npos, log.find("4 tests passed!")) << log;
    EXPECT_LT(log.find("4 tests passed!"), log.rfind("Closing server.")) << log;
    // The empty root means ./classifiers/ beside the executable, created on the way.
    EXPECT_TRUE(fs::exists(_root / "classifiers/test_engswe.dat"));
    EXPECT_FALSE(fs::exists(_root / "classifiers/stresstest_cls1.dat"));
    EXPECT_TRUE(fs::is_directory(_root / "logs/requests"));
    EXPECT_TRUE(fs::is_empty(_root / "logs/requests"));
}

class QuillmarkServerSignalTest : public QuillmarkServerTest,
                                  public ::testing::WithParamInterface<int> {};

// A classifier of 1000 classes, and a request for its information 100 times over: an answer of
// several megabytes, far more than the kernel buffers for a client that does not read.
std::string largeAnswerRequest(std::uint16_t port) {
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark "
        "xmlns=\"http://quillmark.invalid/1/server/RequestSchema\" version=\"1.01\">";
    std::string create = head + "<writeCalls classifierName=\"wide\"><create id=\"c\"/>";
    for (int i = 0; i < 1000; ++i) {
        create += "<addClass id=\"a" + std::to_string(i) + "\" className=\"class_with_a_long_name_" +
                  std::to_string(i) + "\"/>";
    }
    const std::string created = LoopbackClient::ask(port, create + "</writeCalls></quillmark>");
    EXPECT_NE(std::string::npos, created.find("statusCode=\"2000\"")) << created;
    std::string information = head + "<readCalls>";
    for (int i = 0; i < 100; ++i) {
        information += "<getInformation id=\"i" + std::to_string(i) + "\" classifierName=\"wide\"/>";
    }
    return information + "</readCalls></quillmark>";
}

// The answer the README shows for the command that sends `example`: the xml block after it.
std::string documentedAnswer(const std::string& example) {
    const std::string readme = TempFolder::read(std::string(QM_SOURCE_DIR) + "/README.md");
    const std::string command = "nc -N localhost 27182 < examples/" + example + "\n```\n\n```xml\n";
    const std::size_t start = readme.find(command);
    if (start == std::string::npos) return "no such command in README.md";
    const std::size_t begin = start + command.size();
    return readme.substr(begin, readme.find("\n```", begin) - begin);
}

// A console server: start-up removes the save files of servers that are gone (and only theirs),
// the README examples get their documented answers, and with idle, trickling and never-reading
// clients connected the signal still ends it within five seconds, in order, without an error
// line or a crash report.
TEST_P(QuillmarkServerSignalTest, ConsoleServerServesAndClosesInOrderOnTheSignal) {
    const pid_t gonePid = ::fork();
    if (gonePid == 0) ::_exit(0);
    ::waitpid(gonePid, nullptr, 0);
    const std::string leftover = TemporarySaveName::make("spam.dat", gonePid, 1);
    const std::string inProgress = TemporarySaveName::make("spam.dat", ::getpid(), 1);
    fs::create_directories(_root / "classifiers");
    _folder.write("server/classifiers/" + leftover, "half");
    _folder.write("server/classifiers/" + inProgress, "half");

    ServerProcess child = spawn({"-config", "config.xml"});
    const bool waiting = waitForLog("Waiting for connections...");
    std::string answers[2];
    const char* examples[2] = {"train.xml", "classify.xml"};
    std::vector<std::unique_ptr<LoopbackClient>> hostile;
    if (waiting) {
        for (int i = 0; i < 2; ++i) {
            answers[i] = LoopbackClient::ask(
                _port, TempFolder::read(std::string(QM_SOURCE_DIR) + "/examples/" + examples[i]));
        }
        const std::string large = largeAnswerRequest(_port);
        for (int i = 0; i < 38; ++i) {
            hostile.push_back(std::make_unique<LoopbackClient>(_port, 4096));
            if (i < 8) hostile.back()->request(large);          // never reads its answer
            if (i >= 28) hostile.back()->send("<quill");         // never ends its request
        }
        EXPECT_TRUE(waitForLog("Running connection " + std::to_string(3 + hostile.size()) + "."));
        std::this_thread::sleep_for(500ms);  // the large answers are under way
    }
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.signal(GetParam()));
    const Outcome outcome = finish(child);
    const auto took = std::chrono::steady_clock::now() - signalled;
    hostile.clear();
    ASSERT_TRUE(waiting) << logText();
    // Sanitizer builds run requests several times slower, and a request still running at the
    // stop is let finish: the large answers above are still being built there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(took, 15s);
#else
    EXPECT_LT(took, 5s);
#endif
    EXPECT_EQ(0, outcome.exitCode) << outcome.err;
    EXPECT_EQ(documentedAnswer("train.xml"), answers[0]);
    EXPECT_EQ(documentedAnswer("classify.xml"), answers[1]);
    EXPECT_FALSE(fs::exists(_root / "classifiers" / leftover));
    EXPECT_TRUE(fs::exists(_root / "classifiers" / inProgress));
    const std::string log = logText();
    EXPECT_NE(std::string::npos,
              log.find("Removed the leftover save file './classifiers/" + leftover + "'."))
        << log;
    const std::string last = "Closing server.\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(last, log.substr(log.size() - last.size())) << log;
    EXPECT_EQ(std::string::npos, log.find("Dump is here")) << log;
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(_root / "logs")) ++files;
    EXPECT_EQ(2u, files);  // log.txt and the request archive folder
}

INSTANTIATE_TEST_SUITE_P(Signals, QuillmarkServerSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

// Kill rounds in the test command; QM_KILL_ROUNDS asks for more (scripts/soak.sh).
unsigned killRounds() {
    const char* rounds = std::getenv("QM_KILL_ROUNDS");
    return rounds != nullptr && std::atoi(rounds) > 0 ? static_cast<unsigned>(std::atoi(rounds))
                                                      : 50;
}

// Trainings of one class of one classifier: those answered with success, and those whose
// answer the kill cut off (they may or may not have been committed).
struct Ledger {
    long committed = 0;
    long acknowledged = 0;
    long unanswered = 0;
};

// A commit writes the file before it answers, and a killed server never leaves a half-written
// file: after every kill, the restarted server removes the dead one's save files, every file
// loads and every class holds its acknowledged trainings, plus at most the ones in flight.
TEST_F(QuillmarkServerTest, KilledServerRestartsFromACommittedState) {
    constexpr unsigned Clients = 6;
    const std::vector<std::string> names{"burst0", "burst1", "burst2"};
    const std::vector<std::string> classes{"a", "b"};
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const fs::path classifiers = _root / "classifiers";
    std::atomic<unsigned> next{1};
    std::vector<Ledger> ledgers(names.size() * classes.size());
    long perText = 0;
    long acknowledgedInAll = 0;
    long acknowledgedAtLeast = 0;
    std::atomic<int> otherAnswers{0};

    // No save file of a killed server is left, every file loads and every class is within its
    // ledger; the counts become the new base.
    auto checkRestarted = [&](pid_t pid, std::uint16_t port) {
        for (const auto& entry : fs::directory_iterator(classifiers)) {
            const auto owner =
                io::filesystem::TemporarySaveName::owner(entry.path().filename().string());
            EXPECT_TRUE(!owner || *owner == pid) << entry.path();
            if (entry.path().extension() != ".dat") continue;
            const std::string answer =
                ask(port, informationRequest(entry.path().stem().string()));
            EXPECT_EQ(2000, statusOf(answer)) << entry.path() << "\n" << answer;
        }
        for (std::size_t n = 0; n < names.size(); ++n) {
            const std::string information = ask(port, informationRequest(names[n]));
            for (std::size_t k = 0; k < classes.size(); ++k) {
                Ledger& ledger = ledgers[n * classes.size() + k];
                const long total = totalCountOf(information, classes[k]);
                ASSERT_EQ(0, total % perText) << names[n] << " " << classes[k] << " " << total;
                EXPECT_LE(ledger.committed + ledger.acknowledged, total / perText)
                    << names[n] << " " << classes[k];
                EXPECT_GE(ledger.committed + ledger.acknowledged + ledger.unanswered,
                          total / perText)
                    << names[n] << " " << classes[k];
                acknowledgedInAll += ledger.acknowledged;
                ledger = Ledger{total / perText, 0, 0};
            }
        }
    };

    for (unsigned round = 0; round <= killRounds(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::error_code ignored;
        fs::remove(_root / "logs/log.txt", ignored);
        writeConfig(freePort());
        ServerProcess child = spawn({"-config", "config.xml"});
        ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();
        const std::uint16_t port = _port;
        if (round == 0) {
            for (const std::string& name : names) {
                ASSERT_EQ(2000, statusOf(ask(port, createRequest(name, classes))));
            }
            ASSERT_EQ(2000, statusOf(ask(port, createRequest("unit", {"a"}))));
            ASSERT_EQ(2000, statusOf(ask(port, trainRequest("unit", "a", {distinctText(0)}))));
            perText = totalCountOf(ask(port, informationRequest("unit")), "a");
            ASSERT_GT(perText, 0);
        } else {
            checkRestarted(child.pid(), port);
            if (HasFatalFailure()) return;
        }
        if (round == killRounds()) break;

        std::mutex ledgerMutex;
        std::atomic<long> acknowledgedInRound{0};
        std::vector<std::thread> clients;
        for (unsigned c = 0; c < Clients; ++c) {
            const unsigned clientSeed = random();
            clients.emplace_back([&, clientSeed] {
                std::mt19937 pick(clientSeed);
                for (;;) {
                    const std::size_t n = pick() % names.size();
                    const std::size_t k = pick() % classes.size();
                    const std::string answer = ask(
                        port, trainRequest(names[n], classes[k], {distinctText(next++)}));
                    const int status = statusOf(answer);
                    std::lock_guard lock(ledgerMutex);
                    Ledger& ledger = ledgers[n * classes.size() + k];
                    if (status == 2000) {
                        ++ledger.acknowledged;
                        ++acknowledgedInRound;
                        continue;
                    }
                    if (!answer.empty()) {
                        ++otherAnswers;
                        continue;
                    }
                    ++ledger.unanswered;  // the server is gone
                    return;
                }
            });
        }
        // Anywhere from before the first request arrives to a few commits into the burst, with
        // the other clients' requests in flight.
        const long target = static_cast<long>(random() % 8);
        acknowledgedAtLeast += target;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (acknowledgedInRound.load() < target && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        child.kill();
        for (std::thread& client : clients) client.join();
    }
    EXPECT_EQ(0, otherAnswers.load());
    int leftovers = 0;
    for (const auto& entry : fs::directory_iterator(classifiers)) {
        if (entry.is_regular_file() && entry.path().extension() != ".dat") ++leftovers;
    }
    std::printf("%u kills, %ld trainings acknowledged, %d files other than .dat left behind\n",
                killRounds(), acknowledgedInAll, leftovers);
    EXPECT_GE(acknowledgedInAll, acknowledgedAtLeast);
}

}  // namespace
