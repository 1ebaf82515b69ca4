// Tests of the built quillmarkserver executable, run as a child process in a folder of its own
// that holds a copy of the executable, the schemas and a configuration on a free port. Every
// child is started from "/" so that it has to find its files beside its executable.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
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
using namespace norvale::quillmark::testing;
using namespace std::chrono_literals;

// A loopback port the system picks, bound (and listening when asked) while the object lives.
class PortHolder {
public:
    explicit PortHolder(bool listen) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(0, ::bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address));
        EXPECT_EQ(0, ::getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length));
        if (listen) {
            EXPECT_EQ(0, ::listen(_socket, 4));
        }
        port = ntohs(address.sin_port);
    }
    ~PortHolder() { ::close(_socket); }

    std::uint16_t port = 0;

private:
    int _socket = ::socket(AF_INET, SOCK_STREAM, 0);
};

class QuillmarkServerTest : public ::testing::Test {
protected:
    QuillmarkServerTest() {
        for (const char* schema :
             {"config/ConfigSchema.xsd", "server/RequestSchema.xsd", "server/ResponseSchema.xsd"}) {
            fs::create_directories(fs::path(_root / "xml/schemas" / schema).parent_path());
            fs::copy_file(fs::path(QM_SCHEMA_DIR) / schema, _root / "xml/schemas" / schema);
        }
        std::error_code linkFailed;
        fs::create_hard_link(QM_SERVER_EXECUTABLE, executable(), linkFailed);
        if (linkFailed) fs::copy_file(QM_SERVER_EXECUTABLE, executable());
    }

    std::string executable() const { return (_root / "quillmarkserver").string(); }

    // A configuration on `port`, a free one when 0; the log file of earlier runs goes.
    void writeConfig(std::uint16_t port = 0, const std::string& classifierRoot = "./classifiers/",
                     const std::string& saveRequests = "false") {
        _port = port != 0 ? port : PortHolder(false).port;
        _folder.write("server/config.xml",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\""
                      "http://quillmark.invalid/1/config/ConfigSchema\">\n<port>" +
                          std::to_string(_port) +
                          "</port><maxInput>1048576</maxInput><maxClients>20</maxClients>"
                          "<clientQueueSize>20</clientQueueSize><classifierRootPath>" +
                          classifierRoot +
                          "</classifierRootPath><logLevel>log</logLevel><logMemory>false"
                          "</logMemory><saveRequests>" +
                          saveRequests + "</saveRequests>\n</quillmark>\n");
        std::error_code ignored;
        fs::remove(_root / "logs/log.txt", ignored);
    }

    // Starts the executable from "/" with its output in files.
    ServerProcess spawn(std::vector<std::string> args) {
        args.insert(args.begin(), executable());
        return ServerProcess(args, _folder.path("out.txt"), _folder.path("err.txt"));
    }
    // Waits for the child, killing it after five minutes: its exit code, -1 after a signal.
    int finish(ServerProcess& child) {
        const int exitCode = child.wait();
        EXPECT_NE(-2, exitCode) << "the server did not end";
        return exitCode;
    }
    std::string output(const char* name) const { return TempFolder::read(_folder.path(name)); }
    std::string logText() const { return TempFolder::read((_root / "logs/log.txt").string()); }

    // Waits until the log holds `text`, at most two minutes.
    bool waitForLog(const std::string& text) const {
        for (const auto deadline = std::chrono::steady_clock::now() + 120s;
             logText().find(text) == std::string::npos; std::this_thread::sleep_for(20ms)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
        }
        return true;
    }

    TempFolder _folder;
    const fs::path _root = _folder.path("server");
    std::uint16_t _port = 0;
};

// Start-ups that fail: each ends with 1 before the server starts, with its message in the log
// file after the lines listed before it, and on the console, which is on until the command line
// has been read (also with -quiet) and is the journal under -scm. The texts of each command-line
// refusal are StartupTest's; here one of them runs the process.
TEST_F(QuillmarkServerTest, FailedStartupsAreLoggedInOrderAndExitWithOne) {
    const PortHolder busy(true);
    const std::string port = std::to_string(busy.port);
    const std::string failed = "An exception occured when trying to startup the server. ";
    const struct {
        std::vector<std::string> args;
        std::string classifierRoot;
        std::uint16_t port;
        std::vector<std::string> logged;  // in this order
        std::string console;
    } cases[] = {
        {{"-config", "config.xml", "-quiet", "-quiet"},
         "./classifiers/",
         0,
         {"[Error] [ThreadId: ", "The flag -quiet was used more than once.",
          "\nFlags:\n-config\t\t", "\nquillmarkserver -config config.xml\n"},
         "The flag -quiet was used more than once."},
        {{"-config", "missing.xml"},
         "./classifiers/",
         0,
         {failed + "Error when loading the XML document"},
         failed},
        {{"-scm", "-config", "config.xml"},
         "./classifiers/",
         0,
         {failed + "Could not start service dispatcher"},
         "\n<3>" + failed},
        {{"-config", "config.xml"},
         "./classifiers/",
         busy.port,
         {failed + "The port, " + port + ", is already in use."},
         failed + "The port, " + port + ", is already in use."},
        {{"-config", "config.xml"},
         "/nonexistent/quillmark/classifiers/",
         0,
         {"Initializing server v2.40", "Using config settings:\n",
          "System settings:\nTotal physical memory: ", "MB\nAvailable disk space on /: ",
          failed + "The root training path '/nonexistent/quillmark/classifiers/' doesn't "
                   "exist. Make sure you create it!"},
         failed + "The root training path"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        writeConfig(row.port, row.classifierRoot);
        ServerProcess child = spawn(row.args);
        EXPECT_EQ(1, finish(child)) << output("out.txt") << output("err.txt");
        const std::string log = logText();
        std::size_t at = 0;
        for (const std::string& line : row.logged) {
            at = log.find(line, at);
            ASSERT_NE(std::string::npos, at) << line << "\n" << log;
        }
        EXPECT_NE(std::string::npos, output("out.txt").find(row.console)) << output("out.txt");
        EXPECT_EQ(std::string::npos, log.find("Starting server")) << log;
        EXPECT_EQ(std::string::npos, log.find("<3>")) << log;  // no journal prefix in the file
    }
}

// Quiet: nothing on the console while the log file gets every line.
TEST_F(QuillmarkServerTest, QuietSelfTestPassesWithTheDefaultRootAndArchivesNothing) {
    writeConfig(0, "", "true");
    ServerProcess child = spawn({"-quiet", "-test", "-config", "config.xml"});
    ASSERT_EQ(0, finish(child)) << output("out.txt") << output("err.txt");
    EXPECT_EQ("", output("out.txt"));
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

// The answer the README shows for the command that sends `example`: the xml block after it.
std::string documentedAnswer(const std::string& example) {
    const std::string readme = TempFolder::read(std::string(QM_SOURCE_DIR) + "/README.md");
    const std::string command = "nc -N localhost 27182 < examples/" + example + "\n```\n\n```xml\n";
    const std::size_t start = readme.find(command);
    if (start == std::string::npos) return "no such command in README.md";
    const std::size_t begin = start + command.size();
    return readme.substr(begin, readme.find("\n```", begin) - begin);
}

class QuillmarkServerSignalTest : public QuillmarkServerTest,
                                  public ::testing::WithParamInterface<int> {};

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

    writeConfig();
    ServerProcess child = spawn({"-config", "config.xml"});
    ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();
    for (const char* example : {"train.xml", "classify.xml"}) {
        EXPECT_EQ(documentedAnswer(example),
                  LoopbackClient::ask(_port, TempFolder::read(std::string(QM_SOURCE_DIR) +
                                                              "/examples/" + example)));
    }
    // A classifier of 1000 classes and a request for its information 100 times over: an answer
    // of several megabytes, far more than the kernel buffers for a client that does not read.
    std::vector<std::string> classes;
    for (int i = 0; i < 1000; ++i) classes.push_back("class_with_a_long_name_" + std::to_string(i));
    ASSERT_EQ(2000, statusOf(LoopbackClient::ask(_port, createRequest("wide", classes))));
    std::string calls;
    for (int i = 0; i < 100; ++i) {
        calls += call("getInformation", "i" + std::to_string(i), "classifierName=\"wide\"");
    }
    std::vector<std::unique_ptr<LoopbackClient>> hostile;
    for (int i = 0; i < 38; ++i) {
        hostile.push_back(std::make_unique<LoopbackClient>(_port, 4096));
        if (i < 8) hostile.back()->request(request(readCalls(calls)));  // never reads its answer
        if (i >= 28) hostile.back()->send("<quill");                    // never ends its request
    }
    EXPECT_TRUE(waitForLog("Running connection " + std::to_string(3 + hostile.size()) + "."));
    std::this_thread::sleep_for(500ms);  // the large answers are under way

    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.signal(GetParam()));
    EXPECT_EQ(0, finish(child)) << output("err.txt");
    // Sanitizer builds run requests several times slower, and a request still running at the
    // stop is let finish: the large answers above are still being built there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 15s);
#else
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
#endif
    EXPECT_FALSE(fs::exists(_root / "classifiers" / leftover));
    EXPECT_TRUE(fs::exists(_root / "classifiers" / inProgress));
    const std::string log = logText();
    EXPECT_NE(std::string::npos,
              log.find("Removed the leftover save file './classifiers/" + leftover + "'."));
    const std::string last = "Closing server.\n";
    EXPECT_EQ(last, log.substr(log.size() - std::min(log.size(), last.size()))) << log;
    EXPECT_EQ(std::string::npos, log.find("Dump is here")) << log;
    // log.txt and the request archive folder, nothing else.
    EXPECT_EQ(2, std::distance(fs::directory_iterator(_root / "logs"), fs::directory_iterator()));
}

INSTANTIATE_TEST_SUITE_P(Signals, QuillmarkServerSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

// A commit writes the file before it answers, and a killed server never leaves a half-written
// file: after every kill -9 amid a burst of trainings, the restarted server removes the dead
// one's save files, every file loads and every class holds its acknowledged trainings, plus at
// most the ones whose answer the kill cut off. QM_KILL_ROUNDS asks for more rounds
// (scripts/soak.sh).
TEST_F(QuillmarkServerTest, KilledServerRestartsFromACommittedState) {
    const char* roundsAsked = std::getenv("QM_KILL_ROUNDS");
    const unsigned rounds = roundsAsked != nullptr && std::atoi(roundsAsked) > 0
                                ? static_cast<unsigned>(std::atoi(roundsAsked))
                                : 50;
    const std::vector<std::string> names{"burst0", "burst1", "burst2"}, classes{"a", "b"};
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Per class of each classifier: trainings committed before the round, acknowledged in it,
    // and cut off by the kill (they may or may not have been committed).
    struct Ledger {
        long committed = 0, acknowledged = 0, unanswered = 0;
    };
    std::vector<Ledger> ledgers(names.size() * classes.size());
    std::atomic<unsigned> next{1};
    long perText = 0, acknowledgedInAll = 0, acknowledgedAtLeast = 0;
    std::atomic<int> otherAnswers{0};

    for (unsigned round = 0; round <= rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        writeConfig();
        ServerProcess child = spawn({"-config", "config.xml"});
        ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();
        const std::uint16_t port = _port;
        const auto ask = [port](const std::string& request) {
            return LoopbackClient::ask(port, request);
        };
        if (round == 0) {
            for (const std::string& name : names) {
                ASSERT_EQ(2000, statusOf(ask(createRequest(name, classes))));
            }
            ASSERT_EQ(2000, statusOf(ask(createRequest("unit", {"a"}))));
            ASSERT_EQ(2000, statusOf(ask(trainRequest("unit", "a", {distinctText(0)}))));
            perText = totalCountOf(ask(informationRequest("unit")), "a");
            ASSERT_GT(perText, 0);
        } else {
            // No save file of a killed server is left, every file loads and every class is
            // within its ledger; the counts become the new base.
            for (const auto& entry : fs::directory_iterator(_root / "classifiers")) {
                const auto owner = TemporarySaveName::owner(entry.path().filename().string());
                EXPECT_TRUE(!owner || *owner == child.pid()) << entry.path();
                if (entry.path().extension() != ".dat") continue;
                const std::string answer = ask(informationRequest(entry.path().stem().string()));
                EXPECT_EQ(2000, statusOf(answer)) << entry.path() << "\n" << answer;
            }
            for (std::size_t n = 0; n < names.size(); ++n) {
                const std::string information = ask(informationRequest(names[n]));
                for (std::size_t k = 0; k < classes.size(); ++k) {
                    SCOPED_TRACE(names[n] + " " + classes[k]);
                    Ledger& ledger = ledgers[n * classes.size() + k];
                    const long total = totalCountOf(information, classes[k]);
                    ASSERT_EQ(0, total % perText) << total;
                    EXPECT_LE(ledger.committed + ledger.acknowledged, total / perText);
                    EXPECT_GE(ledger.committed + ledger.acknowledged + ledger.unanswered,
                              total / perText);
                    acknowledgedInAll += ledger.acknowledged;
                    ledger = Ledger{total / perText, 0, 0};
                }
            }
        }
        if (round == rounds) break;

        std::mutex ledgerMutex;
        std::atomic<long> acknowledgedInRound{0};
        std::vector<std::thread> clients;
        for (unsigned c = 0; c < 6; ++c) {
            clients.emplace_back([&, clientSeed = random()] {
                for (std::mt19937 pick(clientSeed);;) {
                    const std::size_t n = pick() % names.size(), k = pick() % classes.size();
                    const std::string answer =
                        ask(trainRequest(names[n], classes[k], {distinctText(next++)}));
                    std::lock_guard lock(ledgerMutex);
                    Ledger& ledger = ledgers[n * classes.size() + k];
                    if (statusOf(answer) == 2000) {
                        ++ledger.acknowledged;
                        ++acknowledgedInRound;
                    } else if (!answer.empty()) {
                        ++otherAnswers;
                    } else {
                        ++ledger.unanswered;  // the server is gone
                        return;
                    }
                }
            });
        }
        // Anywhere from before the first request arrives to a few commits into the burst, with
        // the other clients' requests in flight.
        const long target = static_cast<long>(random() % 8);
        acknowledgedAtLeast += target;
        for (const auto deadline = std::chrono::steady_clock::now() + 30s;
             acknowledgedInRound.load() < target && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        child.kill();
        for (std::thread& client : clients) client.join();
    }
    EXPECT_EQ(0, otherAnswers.load());
    std::printf("%u kills, %ld trainings acknowledged\n", rounds, acknowledgedInAll);
    EXPECT_GE(acknowledgedInAll, acknowledgedAtLeast);
}

}  // namespace
