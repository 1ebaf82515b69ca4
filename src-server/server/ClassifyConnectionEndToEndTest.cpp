// The whole server road over loopback sockets: client connection, request execution, repository
// and classifier files in a temporary folder.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "io/filesystem/TempFolder.h"
#include "testing/InProcessServer.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "testing/Requests.h"

namespace norvale::quillmark {
namespace {

using namespace testing;

// Every train request is its own transaction on one classifier; readers classify it meanwhile.
// The result must equal the same trainings done in one transaction.
TEST(ClassifyConnectionEndToEndTest, ConcurrentTrainersLoseNoUpdateWhileReadersClassify) {
    constexpr unsigned Trainers = 32;
    constexpr unsigned Rounds = 3;
    constexpr unsigned Readers = 8;
    io::filesystem::test::TempFolder folder;
    std::filesystem::create_directories(folder.path("classifiers"));
    std::filesystem::create_directories(folder.path("locks"));
    RecordingLog log;
    const InProcessServer server(folder.path("classifiers"), folder.path("locks"), &log);
    const std::uint16_t port = server.port();
    const auto ask = [](std::uint16_t to, const std::string& request) {
        return LoopbackClient::ask(to, request);
    };
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
