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

// Every train request is its own transaction on one classifier while readers classify it; the
// result must equal the same trainings done in one transaction per class.
TEST(ClassifyConnectionEndToEndTest, ConcurrentTrainersLoseNoUpdateWhileReadersClassify) {
    constexpr unsigned Trainings = 96, Trainers = 32, Readers = 8;
    io::filesystem::test::TempFolder folder;
    std::filesystem::create_directories(folder.path("classifiers"));
    std::filesystem::create_directories(folder.path("locks"));
    RecordingLog log;
    const InProcessServer server(folder.path("classifiers"), folder.path("locks"), &log);
    const auto ask = [port = server.port()](const std::string& request) {
        return LoopbackClient::ask(port, request);
    };
    ASSERT_EQ(2000, statusOf(ask(createRequest("shared", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(trainRequest("shared", "ham", {distinctText(0)}))));

    std::atomic<unsigned> next{1};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < Trainers + Readers; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned n; (n = t < Trainers ? next++ : next.load()) < Trainings;) {
                const std::string request =
                    t < Trainers ? trainRequest("shared", n % 2 ? "spam" : "ham", {distinctText(n)})
                                 : classifyRequest("shared", distinctText(t));
                if (statusOf(ask(request)) != 2000) ++failed;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failed.load());

    std::vector<std::string> spam, ham;
    for (unsigned n = 0; n < Trainings; ++n) (n % 2 ? spam : ham).push_back(distinctText(n));
    ASSERT_EQ(2000, statusOf(ask(createRequest("reference", {"spam", "ham"}))));
    ASSERT_EQ(2000, statusOf(ask(trainRequest("reference", "spam", spam))));
    ASSERT_EQ(2000, statusOf(ask(trainRequest("reference", "ham", ham))));
    const std::string shared = ask(informationRequest("shared"));
    ASSERT_EQ(2000, statusOf(shared)) << shared;
    EXPECT_EQ(classesOf(ask(informationRequest("reference"))), classesOf(shared));
    EXPECT_GT(totalCountOf(shared, "spam"), 0);
}

}  // namespace
}  // namespace norvale::quillmark
