// The whole server road over loopback sockets: client connection, request execution, repository
// and classifier files in a temporary folder.

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

#include "io/filesystem/TempFolder.h"
#include "server/StatusCode.h"
#include "testing/InProcessServer.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "testing/Requests.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;

std::string ask(std::uint16_t port, const std::string& request) {
    return LoopbackClient::ask(port, request);
}

class ClassifyConnectionEndToEndTest : public ::testing::Test {
protected:
    ClassifyConnectionEndToEndTest() {
        std::filesystem::create_directories(_root);
        std::filesystem::create_directories(_locks);
    }

    std::unique_ptr<InProcessServer> start() {
        return std::make_unique<InProcessServer>(_root.string(), _locks.string(), &_log);
    }

    io::filesystem::test::TempFolder _folder;
    const std::filesystem::path _root = _folder.path("classifiers");
    const std::filesystem::path _locks = _folder.path("locks");
    RecordingLog _log;
};

TEST_F(ClassifyConnectionEndToEndTest, EmptyRequestAndRandomBytesAreBadRequests) {
    const std::unique_ptr<InProcessServer> server = start();
    EXPECT_EQ(statusCode::BAD_REQUEST, statusOf(ask(server->port(), "")));

    std::mt19937 random(8);
    std::string noise(5000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const std::string answer = ask(server->port(), noise);
    EXPECT_EQ(statusCode::BAD_REQUEST, statusOf(answer)) << answer;

    EXPECT_EQ(statusCode::BAD_REQUEST,
              statusOf(ask(server->port(), request("<unknownCalls/>"))));
    EXPECT_TRUE(
        _log.waitFor("Log: Received a request from client with id 2 with the size of 5000."));
}

TEST_F(ClassifyConnectionEndToEndTest, RestartLoadsWhatTheLastCommitWrote) {
    std::string before;
    {
        const std::unique_ptr<InProcessServer> server = start();
        const std::uint16_t port = server->port();
        ASSERT_EQ(2000, statusOf(ask(port, createRequest("Kept", {"a", "b"}))));
        ASSERT_EQ(2000, statusOf(ask(port, trainRequest("Kept", "a",
                                                          {distinctText(1), distinctText(2)}))));
        ASSERT_EQ(2000, statusOf(ask(port, trainRequest("kept", "b", {distinctText(3)}))));
        before = ask(port, informationRequest("KEPT"));
    }
    ASSERT_EQ(2000, statusOf(before)) << before;
    EXPECT_TRUE(std::filesystem::exists(_root / "kept.dat"));
    EXPECT_EQ(2 * totalCountOf(before, "b"), totalCountOf(before, "a"));

    const std::unique_ptr<InProcessServer> restarted = start();
    const std::string after = ask(restarted->port(), informationRequest("Kept"));
    EXPECT_EQ(2000, statusOf(after)) << after;
    EXPECT_EQ(classesOf(before), classesOf(after));
}

// Every train request is its own transaction on one classifier; readers classify it meanwhile.
// The result must equal the same trainings done in one transaction.
TEST_F(ClassifyConnectionEndToEndTest, ConcurrentTrainersLoseNoUpdateWhileReadersClassify) {
    constexpr unsigned Trainers = 32;
    constexpr unsigned Rounds = 3;
    constexpr unsigned Readers = 8;
    const std::unique_ptr<InProcessServer> server = start();
    const std::uint16_t port = server->port();
    ASSERT_EQ(2000, statusOf(ask(port, createRequest("shared", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(port, trainRequest("shared", "ham", {distinctText(0)}))));

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
                    statusOf(ask(port, trainRequest("shared", className, {distinctText(n)})));
            }
            --trainersLeft;
        });
    }
    for (unsigned r = 0; r < Readers; ++r) {
        threads.emplace_back([&, r] {
            while (trainersLeft.load() != 0) {
                readStatus[r].push_back(
                    statusOf(ask(port, classifyRequest("shared", distinctText(r + 1)))));
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
    ASSERT_EQ(2000, statusOf(ask(port, createRequest("reference", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(port, trainRequest("reference", "spam", spam))));
    ASSERT_EQ(2000, statusOf(ask(port, trainRequest("reference", "ham", ham))));
    const std::string shared = ask(port, informationRequest("shared"));
    const std::string reference = ask(port, informationRequest("reference"));
    ASSERT_EQ(2000, statusOf(shared)) << shared;
    EXPECT_EQ(classesOf(reference), classesOf(shared));
    EXPECT_GT(totalCountOf(shared, "spam"), 0);
}

}  // namespace
}  // namespace norvale::quillmark
