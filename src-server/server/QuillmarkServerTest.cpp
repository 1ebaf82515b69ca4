// Tests of the built quillmarkserver executable, run as a child process in a folder of its own
// that holds a copy of the executable, the schemas and a configuration on a free port. Every
// child is started from "/" so that it has to find its files beside its executable.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "classifier/ClassifierFactoryImpl.h"
#include "io/filesystem/TempFolder.h"
#include "io/filesystem/TemporarySaveName.h"
#include "net/socket/SocketTestSupport.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "server/PostgresTestSupport.h"
#include "server/StoreJobDistribution.h"
#include "testing/Eventually.h"
#include "testing/LoopbackClient.h"
#include "testing/Requests.h"
#include "testing/ServerProcess.h"

namespace {

namespace fs = std::filesystem;
using io::filesystem::TemporarySaveName;
using io::filesystem::test::TempFolder;
using namespace norvale::quillmark::testing;
using norvale::quillmark::Metrics;
using norvale::quillmark::PostgresClassifierStore;
using norvale::quillmark::StoreJobDistribution;
using namespace std::chrono_literals;

// A loopback port the system picks, listening while the object lives.
using ListeningPort = net::socket::test_support::Listener;

// The text every training of burst classifier n teaches.
std::string burstText(int n) {
    return distinctText(static_cast<unsigned>(n) + 1);
}

// The file of a classifier of one class "a" trained `times` times with text, in one process.
std::string trainedAsOften(const std::string& text, long times) {
    const auto trained = norvale::classifier::ClassifierFactoryImpl(nullptr).create();
    trained->addClass("a");
    for (long n = 0; n < times; ++n) trained->train("a", text);
    trained->compact();
    return trained->getTrainingData();
}

class QuillmarkServerTest : public ::testing::Test {
protected:
    QuillmarkServerTest() {
        for (const char* schema :
             {"config/ConfigSchema.xsd", "server/RequestSchema.xsd", "server/ResponseSchema.xsd"}) {
            fs::create_directories(fs::path(_root / "xml/schemas" / schema).parent_path());
            fs::copy_file(fs::path(QM_SCHEMA_DIR) / schema, _root / "xml/schemas" / schema);
        }
        std::error_code linkFailed;
        fs::create_hard_link(QM_SERVER_EXECUTABLE, _executable, linkFailed);
        if (linkFailed) fs::copy_file(QM_SERVER_EXECUTABLE, _executable);
    }

    // Starts the executable from "/" on a configuration with `port` (a free one when 0) and the
    // `extra` settings; the log file of earlier runs goes.
    ServerProcess start(std::vector<std::string> args, const std::string& extra = "",
                        std::uint16_t port = 0, const std::string& root = "./classifiers/") {
        _port = port != 0 ? port : ListeningPort().port();
        _folder.write("server/config.xml",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\"http://"
                      "quillmark.invalid/1/config/ConfigSchema\">\n<port>" +
                          std::to_string(_port) +
                          "</port><maxInput>1048576</maxInput><maxClients>20</maxClients>"
                          "<clientQueueSize>20</clientQueueSize><classifierRootPath>" +
                          root +
                          "</classifierRootPath><logLevel>log</logLevel><logMemory>false"
                          "</logMemory><saveRequests>false</saveRequests>" +
                          extra + "\n</quillmark>\n");
        std::error_code ignored;
        fs::remove(_root / "logs/log.txt", ignored);
        args.insert(args.begin(), _executable.string());
        return ServerProcess(args, _folder.path("out.txt"), _folder.path("err.txt"));
    }
    std::string output(const char* name) const { return TempFolder::read(_folder.path(name)); }
    std::string logText() const { return TempFolder::read((_root / "logs/log.txt").string()); }
    bool waitForLog(const std::string& text) const {
        return eventually([&] { return logText().find(text) != std::string::npos; }, 120s, 20ms);
    }
    std::string ask(const std::string& request) {
        ++_asked;
        return LoopbackClient::ask(_port, request);
    }

    TempFolder _folder;
    const fs::path _root = _folder.path("server");
    const fs::path _executable = _root / "quillmarkserver";
    std::uint16_t _port = 0;
    std::atomic<unsigned> _asked{0};  // connections made by ask
};

// Whether `lines` appear in `text` in this order.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& lines) {
    std::size_t at = 0;
    for (const std::string& line : lines) {
        if ((at = text.find(line, at)) == std::string::npos) {
            return ::testing::AssertionFailure() << "no " << line << " in\n" << text;
        }
    }
    return ::testing::AssertionSuccess();
}

// Start-ups that fail end with 1 before the server starts, their message in the log file after
// the lines listed before it and on the console, which is on until the command line has been read
// (also with -quiet). The self test passes quietly: nothing on the console, every line in the log
// file, the empty root meaning ./classifiers/ beside the executable.
TEST_F(QuillmarkServerTest, FailedStartupsExitWithOneAndTheQuietSelfTestPasses) {
    const ListeningPort busy;
    const std::string failed = "An exception occured when trying to startup the server. ";
    const std::string inUse =
        failed + "The port, " + std::to_string(busy.port()) + ", is already in use.";
    const struct {
        std::vector<std::string> args;
        std::string console;
        std::vector<std::string> logged;  // in this order
        std::uint16_t port = 0;
        std::string root = "./classifiers/";
    } cases[] = {
        {{"-config", "config.xml", "-quiet", "-quiet"},
         "The flag -quiet was used more than once.",
         {"[Error] [ThreadId: ", "The flag -quiet was used more than once.",
          "\nquillmarkserver -config config.xml\n"}},
        {{"-config", "config.xml"}, inUse, {inUse}, busy.port()},
        {{"-config", "config.xml"},
         failed + "The root training path",
         {"Initializing server v2.40", "Using config settings:\n",
          "System settings:\nTotal physical memory: ", "MB\nAvailable disk space on /: ",
          failed + "The root training path '/nonexistent/qm/' doesn't exist. Make sure you "
                   "create it!"},
         0,
         "/nonexistent/qm/"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logged.back());
        ServerProcess child = start(row.args, "", row.port, row.root);
        EXPECT_EQ(1, child.wait()) << output("out.txt") << output("err.txt");
        EXPECT_TRUE(inOrder(logText(), row.logged));
        EXPECT_TRUE(inOrder(output("out.txt"), {row.console}));
        EXPECT_FALSE(inOrder(logText(), {"Starting server"}));
    }

    // A second server on the classifier files a running one serves is refused; the self test
    // below runs beside it.
    const ServerProcess first = start({"-quiet", "-config", "config.xml"});
    ASSERT_TRUE(waitForLog("Starting server on port"));
    EXPECT_EQ(1, start({"-config", "config.xml"}).wait(60s));
    EXPECT_TRUE(inOrder(logText(), {failed + "The classifier root './classifiers/' is in use by "
                                             "another server."}));

    ServerProcess child = start({"-quiet", "-test", "-config", "config.xml"}, "", 0, "");
    ASSERT_EQ(0, child.wait()) << output("out.txt") << output("err.txt");
    EXPECT_EQ("", output("out.txt"));
    EXPECT_TRUE(
        inOrder(logText(), {"Executing " + _executable.string() + " -quiet -test",
                            "Starting server on port " + std::to_string(_port) + ".",
                            "Running system tests.", "4 tests passed!", "Closing server."}));
    EXPECT_TRUE(fs::exists(_root / "classifiers/test_engswe.dat"));
    EXPECT_FALSE(fs::exists(_root / "classifiers/stresstest_cls1.dat"));
}

// A classifier folder imported into a PostgreSQL database; then the self test on it, which leaves
// nothing in the classifier folder. Which folders an import refuses, ClassifierImportTest shows.
TEST_F(QuillmarkServerTest, ImportAndTheSelfTestOnAPostgresDatabase) {
    const TestDatabase database;
    ASSERT_FALSE(database.connection().empty()) << "No cluster: run through ctest.";
    const std::string postgres =
        "<postgresConnection>" + database.connection() + "</postgresConnection>";
    _folder.write("old/Imported.dat", trainedAsOften("text", 2));
    ServerProcess import =
        start({"-import", _folder.path("old"), "-config", "config.xml"}, postgres);
    EXPECT_EQ(0, import.wait()) << output("out.txt") << output("err.txt");

    ServerProcess child = start({"-quiet", "-test", "-config", "config.xml"}, postgres);
    EXPECT_EQ(0, child.wait()) << output("out.txt") << output("err.txt");
    EXPECT_TRUE(inOrder(logText(), {"Running system tests.", "4 tests passed!"}));
    EXPECT_FALSE(fs::exists(_root / "classifiers/test_engswe.dat"));
    const auto stored = connect(database.connection());
    EXPECT_EQ(query(stored.get(),
                    "SELECT string_agg(key, ' ' ORDER BY key) "
                    "FROM quillmark_snapshots"),
              "imported test_engswe");
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

// A console server: start-up removes the save files of servers that are gone (which files go
// and which stay, and the line logged, LeftoverSaveFilesTest shows), the README examples get their
// documented answers, and with idle, trickling and never-reading clients connected SIGTERM still
// ends it within five seconds, in order, without an error line, a crash report or (in sanitizer
// builds) a report of the sanitizer.
TEST_F(QuillmarkServerTest, ConsoleServerServesAndClosesInOrderOnTheSignal) {
    const pid_t gonePid = ::fork();
    if (gonePid == 0) ::_exit(0);
    ::waitpid(gonePid, nullptr, 0);
    const std::string leftover = TemporarySaveName::make("spam.dat", gonePid, 1);
    _folder.write("server/classifiers/" + leftover, "half");

    ServerProcess child = start({"-config", "config.xml"});
    ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();
    for (const char* example : {"train.xml", "classify.xml"}) {
        EXPECT_EQ(documentedAnswer(example),
                  ask(TempFolder::read(std::string(QM_SOURCE_DIR) + "/examples/" + example)));
    }
    // A classifier of 1000 classes and a request for its information 100 times over: an answer
    // of several megabytes, far more than the kernel buffers for a client that does not read.
    std::vector<std::string> classes;
    for (int i = 0; i < 1000; ++i) classes.push_back("class_with_a_long_name_" + std::to_string(i));
    ASSERT_EQ(2000, statusOf(ask(createRequest("wide", classes))));
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
    EXPECT_TRUE(waitForLog("Running connection " + std::to_string(_asked + hostile.size()) + "."));
    std::this_thread::sleep_for(500ms);  // the large answers are under way

    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.signal(SIGTERM));
    EXPECT_EQ(0, child.wait()) << output("err.txt");
    // Sanitizer builds run requests several times slower, and a request still running at the
    // stop is let finish: the large answers above are still being built there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 15s);
#else
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
#endif
    EXPECT_FALSE(fs::exists(_root / "classifiers" / leftover));
    const std::string log = logText();
    EXPECT_TRUE(log.ends_with("Closing server.\n")) << log;
    EXPECT_FALSE(inOrder(log, {"[Error]"}));
    // log.txt and the request archive folder, nothing else.
    EXPECT_EQ(2, std::distance(fs::directory_iterator(_root / "logs"), fs::directory_iterator()));
}

// A commit is durable before it answers, and a killed server never leaves a half-written file:
// after every kill -9 amid a burst of trainings, every file loads and every class holds its
// acknowledged trainings, plus at most the ones whose answer the kill cut off (that the dead
// one's save files go at the restart, ConsoleServerServesAndClosesInOrderOnTheSignal shows). An
// orderly stop then folds the journals into files equal byte for byte to those of a classifier
// trained as often in one go. QM_KILL_ROUNDS asks for more rounds (scripts/soak.sh).
class KilledServerTest : public QuillmarkServerTest,
                         public ::testing::WithParamInterface<std::string> {};
INSTANTIATE_TEST_SUITE_P(Store, KilledServerTest, ::testing::Values("files", "postgres"),
                         [](const auto& info) { return info.param; });

TEST_P(KilledServerTest, RestartsFromACommittedState) {
    // On PostgreSQL the classifiers' state is read back through a repository of the test's own.
    std::optional<TestDatabase> database;
    std::optional<PostgresClassifierStore> store;
    std::string settings;
    if (GetParam() == "postgres") {
        database.emplace();
        ASSERT_FALSE(database->connection().empty()) << "No cluster: run through ctest.";
        settings = "<postgresConnection>" + database->connection() + "</postgresConnection>";
    }
    const auto stored = [&](const std::string& name) {
        if (!database) return TempFolder::read(_root / "classifiers" / (name + ".dat"));
        if (!store) store.emplace(database->connection());
        const norvale::classifier::ClassifierFactoryImpl classifiers(nullptr);
        const platform::memory::MemoryStatusImpl memory;
        Metrics metrics;
        StoreJobDistribution repository(&classifiers, &memory, &*store, "", &metrics);
        return repository.get(name)->classifier().getTrainingData();
    };
    const char* asked = std::getenv("QM_KILL_ROUNDS");
    const int rounds = asked != nullptr && std::atoi(asked) > 0 ? std::atoi(asked) : 50;
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Per classifier: trainings committed before the round, acknowledged in it, and cut off by
    // the kill (they may or may not have been committed).
    struct Ledger {
        long committed = 0, acknowledged = 0, unanswered = 0;
    } ledgers[3];
    std::mutex ledgerMutex;
    std::atomic<long> acknowledgedInRound{0}, otherAnswers{0};
    long perText = 0, acknowledgedInAll = 0, acknowledgedAtLeast = 0;
    for (int round = 0; round <= rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::optional<ServerProcess> child;
        child.emplace(start({"-config", "config.xml"}, settings));
        ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();
        if (round == 0) {
            for (const char* name : {"burst0", "burst1", "burst2", "unit"}) {
                ASSERT_EQ(2000, statusOf(ask(createRequest(name, {"a"}))));
            }
            ASSERT_EQ(2000, statusOf(ask(trainRequest("unit", "a", {distinctText(0)}))));
            perText = totalCountOf(ask(informationRequest("unit")), "a");
            ASSERT_GT(perText, 0);
        }
        // Every classifier loads and is within its ledger (a count of -1, one that does not
        // load, is not a multiple of the count of a text); the counts become the new base.
        for (int n = 0; n < 3; ++n) {
            Ledger& ledger = ledgers[n];
            const long total =
                totalCountOf(ask(informationRequest("burst" + std::to_string(n))), "a");
            ASSERT_EQ(0, total % perText) << total;
            const long known = ledger.committed + ledger.acknowledged;
            EXPECT_LE(known, total / perText) << n;
            EXPECT_GE(known + ledger.unanswered, total / perText) << n;
            acknowledgedInAll += ledger.acknowledged;
            ledger = Ledger{total / perText, 0, 0};
        }
        ASSERT_TRUE(child->signal(SIGTERM));
        ASSERT_EQ(0, child->wait());
        for (int n = 0; n < 3; ++n) {
            const std::string name = "burst" + std::to_string(n);
            EXPECT_TRUE(stored(name) == trainedAsOften(burstText(n), ledgers[n].committed)) << name;
        }
        if (round == rounds) break;
        child.reset();
        child.emplace(start({"-config", "config.xml"}, settings));
        ASSERT_TRUE(waitForLog("Waiting for connections...")) << logText();

        acknowledgedInRound = 0;
        std::vector<std::thread> clients;
        for (unsigned c = 0; c < 6; ++c) {
            clients.emplace_back([&, clientSeed = random()] {
                for (std::mt19937 pick(clientSeed);;) {
                    const unsigned n = pick() % 3;
                    const std::string answer =
                        ask(trainRequest("burst" + std::to_string(n), "a", {burstText(n)}));
                    std::lock_guard lock(ledgerMutex);
                    if (answer.empty()) {
                        ++ledgers[n].unanswered;  // the server is gone
                        return;
                    }
                    const bool acknowledged = statusOf(answer) == 2000;
                    otherAnswers += !acknowledged;
                    ledgers[n].acknowledged += acknowledged;
                    acknowledgedInRound += acknowledged;
                }
            });
        }
        // Anywhere from before the first request arrives to a few commits into the burst, with
        // the other clients' requests in flight.
        const long target = static_cast<long>(random() % 8);
        acknowledgedAtLeast += target;
        eventually([&] { return acknowledgedInRound >= target; }, 30s, 1ms);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        child->kill();
        for (std::thread& client : clients) client.join();
    }
    EXPECT_EQ(0, otherAnswers);
    std::printf("%d kills, %ld trainings acknowledged\n", rounds, acknowledgedInAll);
    EXPECT_GE(acknowledgedInAll, acknowledgedAtLeast);
}

}  // namespace
