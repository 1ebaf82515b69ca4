// The whole server road over loopback sockets: client connection, request execution, repository
// and classifier files in a temporary folder.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/TemporarySaveName.h"
#include "server/ConnectionTestSupport.h"
#include "server/RequestServerTestSupport.h"
#include "server/StatusCode.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;

// One request over a fresh connection; "" when the connection failed.
std::string ask(std::uint16_t port, const std::string& request) {
    RawClient client(port);
    if (!client.connected() || !client.request(request)) return "";
    return client.answer();
}

// A text whose words appear in no other text of the test: word j of text n is "w" followed by
// the seven digits of 20n + j, so every text also extracts the same number of features (long
// soaks wrap around after 500000 texts, which keeps that).
std::string distinctText(unsigned n) {
    std::string text;
    for (unsigned j = 0; j < 20; ++j) {
        char word[16];
        std::snprintf(word, sizeof word, "w%07u ", (20 * n + j) % 10000000);
        text += word;
    }
    return text;
}

class ClassifyConnectionEndToEndTest : public ::testing::Test {
protected:
    ClassifyConnectionEndToEndTest() {
        std::filesystem::create_directories(_root);
        std::filesystem::create_directories(_locks);
    }
    ~ClassifyConnectionEndToEndTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(_folder, ignored);
    }

    std::unique_ptr<RequestServer> start() {
        return std::make_unique<RequestServer>(_root.string(), _locks.string(), &_log);
    }

    static std::filesystem::path freshFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qm_connection_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }

    const std::filesystem::path _folder = freshFolder();
    const std::filesystem::path _root = _folder / "classifiers";
    const std::filesystem::path _locks = _folder / "locks";
    RecordingLog _log;
};

TEST_F(ClassifyConnectionEndToEndTest, EmptyRequestAndRandomBytesAreBadRequests) {
    const std::unique_ptr<RequestServer> server = start();
    EXPECT_EQ(statusCode::BAD_REQUEST, statusOf(ask(server->port(), "")));

    std::mt19937 random(8);
    std::string noise(5000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const std::string answer = ask(server->port(), noise);
    EXPECT_EQ(statusCode::BAD_REQUEST, statusOf(answer)) << answer;

    const Requests requests(server->requestNamespace());
    EXPECT_EQ(statusCode::BAD_REQUEST,
              statusOf(ask(server->port(), requests.document("<unknownCalls/>"))));
    EXPECT_TRUE(_log.waitFor(
        {"Log", "Received a request from client with id 2 with the size of 5000."}));
}

TEST_F(ClassifyConnectionEndToEndTest, RestartLoadsWhatTheLastCommitWrote) {
    std::string before;
    {
        const std::unique_ptr<RequestServer> server = start();
        const Requests requests(server->requestNamespace());
        const std::uint16_t port = server->port();
        ASSERT_EQ(2000, statusOf(ask(port, requests.create("Kept", {"a", "b"}))));
        ASSERT_EQ(2000, statusOf(ask(port, requests.train("Kept", "a",
                                                          {distinctText(1), distinctText(2)}))));
        ASSERT_EQ(2000, statusOf(ask(port, requests.train("kept", "b", {distinctText(3)}))));
        before = ask(port, requests.getInformation("KEPT"));
    }
    ASSERT_EQ(2000, statusOf(before)) << before;
    EXPECT_TRUE(std::filesystem::exists(_root / "kept.dat"));
    EXPECT_EQ(2 * totalCountOf(before, "b"), totalCountOf(before, "a"));

    const std::unique_ptr<RequestServer> restarted = start();
    const Requests requests(restarted->requestNamespace());
    const std::string after = ask(restarted->port(), requests.getInformation("Kept"));
    EXPECT_EQ(2000, statusOf(after)) << after;
    EXPECT_EQ(classesOf(before), classesOf(after));
}

// Every train request is its own transaction on one classifier; readers classify it meanwhile.
// The result must equal the same trainings done in one transaction.
TEST_F(ClassifyConnectionEndToEndTest, ConcurrentTrainersLoseNoUpdateWhileReadersClassify) {
    constexpr unsigned Trainers = 32;
    constexpr unsigned Rounds = 3;
    constexpr unsigned Readers = 8;
    const std::unique_ptr<RequestServer> server = start();
    const std::uint16_t port = server->port();
    const Requests requests(server->requestNamespace());
    ASSERT_EQ(2000, statusOf(ask(port, requests.create("shared", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(port, requests.train("shared", "ham", {distinctText(0)}))));

    std::vector<int> trainStatus(Trainers * Rounds, 0);
    std::atomic<unsigned> trainersLeft{Trainers};
    std::vector<std::vector<int>> readStatus(Readers);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < Trainers; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned r = 0; r < Rounds; ++r) {
                const unsigned n = 1 + t * Rounds + r;
                const char* className = n % 2 == 0 ? "ham" : "spam";
                trainStatus[n - 1] =
                    statusOf(ask(port, requests.train("shared", className, {distinctText(n)})));
            }
            --trainersLeft;
        });
    }
    for (unsigned r = 0; r < Readers; ++r) {
        threads.emplace_back([&, r] {
            while (trainersLeft.load() != 0) {
                readStatus[r].push_back(
                    statusOf(ask(port, requests.classify("shared", distinctText(r + 1)))));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(std::vector<int>(Trainers * Rounds, 2000), trainStatus);
    for (const std::vector<int>& statuses : readStatus) {
        EXPECT_EQ(std::vector<int>(statuses.size(), 2000), statuses);
    }

    std::vector<std::string> spam;
    std::vector<std::string> ham{distinctText(0)};
    for (unsigned n = 1; n <= Trainers * Rounds; ++n) {
        (n % 2 == 0 ? ham : spam).push_back(distinctText(n));
    }
    ASSERT_EQ(2000, statusOf(ask(port, requests.create("reference", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(port, requests.train("reference", "spam", spam))));
    ASSERT_EQ(2000, statusOf(ask(port, requests.train("reference", "ham", ham))));
    const std::string shared = ask(port, requests.getInformation("shared"));
    const std::string reference = ask(port, requests.getInformation("reference"));
    ASSERT_EQ(2000, statusOf(shared)) << shared;
    EXPECT_EQ(classesOf(reference), classesOf(shared));
    EXPECT_GT(totalCountOf(shared, "spam"), 0);
}

// The helper server program runs in a child process; it prints its port and serves until killed.
class ChildServer {
public:
    ChildServer(const std::string& root, const std::string& locks) {
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0) return;
        _pid = ::fork();
        if (_pid == 0) {
            ::dup2(output[1], STDOUT_FILENO);
            const char* const arguments[] = {QM_TEST_SERVER, root.c_str(), locks.c_str(), nullptr};
            ::execv(QM_TEST_SERVER, const_cast<char* const*>(arguments));
            ::_exit(127);
        }
        ::close(output[1]);
        _port = readPort(output[0]);
        ::close(output[0]);
    }
    ~ChildServer() { kill(); }

    std::uint16_t port() const { return _port; }
    pid_t pid() const { return _pid; }

    // Ends the child at once: no destructor, no flush, no unlock runs.
    void kill() {
        if (_pid <= 0) return;
        ::kill(_pid, SIGKILL);
        int status = 0;
        ::waitpid(_pid, &status, 0);
        _pid = -1;
    }

private:
    // The first line the child writes, waiting at most 60 s; 0 when none came.
    static std::uint16_t readPort(int fd) {
        std::string line;
        char c;
        pollfd entry{fd, POLLIN, 0};
        while (::poll(&entry, 1, 60000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
        return static_cast<std::uint16_t>(std::atoi(line.c_str()));
    }

    pid_t _pid = -1;
    std::uint16_t _port = 0;
};

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
// file: after every kill, every file loads and every class holds its acknowledged trainings,
// plus at most the ones still in flight.
TEST_F(ClassifyConnectionEndToEndTest, KilledServerRestartsFromACommittedState) {
    constexpr unsigned Clients = 6;
    const std::vector<std::string> names{"burst0", "burst1", "burst2"};
    const std::vector<std::string> classes{"a", "b"};
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const Requests requests(StagedSchemas().requestNamespace());
    std::atomic<unsigned> next{1};
    std::vector<Ledger> ledgers(names.size() * classes.size());
    long perText = 0;
    long acknowledgedInAll = 0;
    long acknowledgedAtLeast = 0;
    std::atomic<int> otherAnswers{0};

    // No save file of a killed server is left, every file loads and every class is within its
    // ledger; the counts become the new base.
    auto checkRestarted = [&](const ChildServer& child) {
        const std::uint16_t port = child.port();
        for (const auto& entry : std::filesystem::directory_iterator(_root)) {
            const auto owner =
                io::filesystem::TemporarySaveName::owner(entry.path().filename().string());
            EXPECT_TRUE(!owner || *owner == child.pid()) << entry.path();
            if (entry.path().extension() != ".dat") continue;
            const std::string answer =
                ask(port, requests.getInformation(entry.path().stem().string()));
            EXPECT_EQ(2000, statusOf(answer)) << entry.path() << "\n" << answer;
        }
        for (std::size_t n = 0; n < names.size(); ++n) {
            const std::string information = ask(port, requests.getInformation(names[n]));
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
        ChildServer child(_root.string(), _locks.string());
        ASSERT_NE(0, child.port());
        const std::uint16_t port = child.port();
        if (round == 0) {
            for (const std::string& name : names) {
                ASSERT_EQ(2000, statusOf(ask(port, requests.create(name, classes))));
            }
            ASSERT_EQ(2000, statusOf(ask(port, requests.create("unit", {"a"}))));
            ASSERT_EQ(2000, statusOf(ask(port, requests.train("unit", "a", {distinctText(0)}))));
            perText = totalCountOf(ask(port, requests.getInformation("unit")), "a");
            ASSERT_GT(perText, 0);
        } else {
            checkRestarted(child);
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
                        port, requests.train(names[n], classes[k], {distinctText(next++)}));
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
    for (const auto& entry : std::filesystem::directory_iterator(_root)) {
        if (entry.path().extension() != ".dat") ++leftovers;
    }
    std::printf("%u kills, %ld trainings acknowledged, %d files other than .dat left behind\n",
                killRounds(), acknowledgedInAll, leftovers);
    EXPECT_GE(acknowledgedInAll, acknowledgedAtLeast);
}

}  // namespace
}  // namespace norvale::quillmark
