#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mutex/AutoLock.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/RepositoryTestSupport.h"
#include "testing/MessageOf.h"

namespace norvale::quillmark {
namespace {

using testing::fakeData;
using namespace std::chrono_literals;

using JobDistributionImplConcurrencyTest = testing::RepositoryTest<3'000, 1'000>;

// Memory for only a couple of classifiers: readers of c2 and c3 keep evicting c0 and c1 while
// writers hold them in open transactions. A second object loaded from the file beside a held one
// would let two writers commit over each other.
TEST_F(JobDistributionImplConcurrencyTest, NoCommitIsLostWhileClassifiersAreEvicted) {
    for (const char* name : {"c0", "c1", "c2", "c3"}) store(name, fakeData({{"n", 0}}, 700));
    constexpr int Writers = 4, Commits = 15;
    std::atomic<bool> writing{true};
    std::vector<std::thread> threads;
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            for (int round = 0; writing; ++round) {
                EXPECT_EQ(0, read("c" + std::to_string(2 + (r + round) % 2), "n"));
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            for (int n = 0; n < Commits; ++n) {
                ClassifierTransactionImpl write(repository.get(), key(w % 2 ? "c1" : "C0"));
                write.train("n", "x");
                std::this_thread::sleep_for(1ms);
                write.commit();
            }
        });
    }
    for (auto& thread : writers) thread.join();
    writing = false;
    for (auto& thread : threads) thread.join();
    for (const char* name : {"c0", "c1"}) EXPECT_EQ(Writers / 2 * Commits, read(name, "n"));
    // What reaches the files: the classifier file with its journal.
    restart();
    for (const char* name : {"c0", "c1"}) EXPECT_EQ(Writers / 2 * Commits, read(name, "n"));
}

TEST_F(JobDistributionImplConcurrencyTest, OneOfManyCreatesInDifferentCaseWins) {
    std::atomic<int> created{0}, refused{0};
    std::vector<std::thread> creators;
    for (int i = 0; i < 8; ++i) {
        creators.emplace_back([&, i] {
            ClassifierTransactionImpl write(repository.get(), key(i % 2 ? "NEW" : "new"));
            try {
                write.create();
                write.addClass("c" + std::to_string(i));
                write.commit();
                ++created;
            } catch (const ClassifierExistsException&) {
                ++refused;
            }
        });
    }
    for (auto& thread : creators) thread.join();
    EXPECT_EQ(1, created.load());
    EXPECT_EQ(7, refused.load());
    restart();
    EXPECT_EQ(1u, repository->get(key("new"))->classifier().getInformation().size());
}

// A remove waits for the write sequence that holds the classifier, and a write sequence that
// reached the classifier before the remove but got its writer lock after it finds it gone;
// neither may write the file back once it was deleted.
TEST_F(JobDistributionImplConcurrencyTest, RemoveWaitsForOpenWriteSequences) {
    store("x", fakeData({{"n", 0}}));
    auto holder = std::make_unique<ClassifierTransactionImpl>(repository.get(), key("x"));
    holder->train("n", "t");
    auto removing = std::async(std::launch::async, [&] {
        ClassifierTransactionImpl remove(repository.get(), key("X"));
        remove.remove();
        remove.commit();
    });
    EXPECT_EQ(std::future_status::timeout, removing.wait_for(100ms)) << "the remove did not wait";
    auto late = std::async(std::launch::async, [&] {
        ClassifierTransactionImpl write(repository.get(), key("x"));
        try {
            write.train("n", "t");
            write.commit();
        } catch (const ClassifierNotFoundException&) {
        }
    });
    std::this_thread::sleep_for(50ms);
    holder->commit();
    holder.reset();
    removing.get();
    late.get();
    EXPECT_FALSE(exists("x"));
    EXPECT_EQ(0u, repository->count());
    EXPECT_THROW(repository->get(key("x")), ClassifierNotFoundException);
}

// While a cold load reads its file, requests for other classifiers are answered, and every
// request for the loading one waits for the load and shares its outcome: the classifier, or the
// failure of a corrupt file. A create of that name waits too and then finds it in memory.
// A read of a loaded classifier is answered within this while another one loads; sanitizer
// builds start threads and run requests several times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds LoadedBound{1000};
#else
constexpr std::chrono::milliseconds LoadedBound{100};
#endif

TEST_F(JobDistributionImplConcurrencyTest, ColdLoadHoldsOnlyRequestsForItsOwnClassifier) {
    struct Case {
        std::string data;
        std::string failure;  // empty when the file loads
    };
    for (const Case& c : {Case{fakeData({{"n", 3}}), ""}, Case{"corrupt", "Not fake data."}}) {
        SCOPED_TRACE(c.data);
        restart();
        store("big", c.data);
        store("other", fakeData({{"n", 1}}));
        store("third", fakeData({{"n", 2}}));
        EXPECT_EQ(1, read("other", "n"));
        loadFile.hold(key("big"));
        auto first = std::async(std::launch::async, [&] { return repository->get(key("big")); });
        loadFile.awaitLoad();
        auto second = std::async(std::launch::async, [&] { return repository->get(key("BIG")); });
        auto creating = std::async(std::launch::async, [&] {
            return testing::messageOf<ClassifierExistsException>([&] { repository->create(key("Big")); });
        });
        auto loaded = std::async(std::launch::async, [&] { return read("other", "n"); });
        EXPECT_EQ(std::future_status::ready, loaded.wait_for(LoadedBound)) << "a loaded one waited";
        auto cold = std::async(std::launch::async, [&] { return read("third", "n"); });
        EXPECT_EQ(std::future_status::ready, cold.wait_for(1s)) << "another cold load waited";
        EXPECT_EQ(std::future_status::timeout, second.wait_for(50ms)) << "the get did not wait";
        EXPECT_EQ(std::future_status::timeout, creating.wait_for(0ms)) << "the create did not wait";
        loadFile.release();
        EXPECT_EQ(1, loaded.get());
        EXPECT_EQ(2, cold.get());
        if (c.failure.empty()) {
            const auto loaded = first.get();
            EXPECT_EQ(loaded, second.get());
            EXPECT_EQ(3, testing::fake(loaded->classifier()).count("n"));
            EXPECT_EQ("Trying to create a classifier that already exists (in memory) '" + key("Big") + "'.",
                      creating.get());
        } else {
            using classifier::ClassifierException;
            EXPECT_EQ(c.failure, testing::messageOf<ClassifierException>([&] { first.get(); }));
            EXPECT_EQ(c.failure, testing::messageOf<ClassifierException>([&] { second.get(); }));
            EXPECT_EQ(c.failure, testing::messageOf<ClassifierException>(
                                     [&] { repository->get(key("big")); }))
                << "a failed load is tried again by the next request";
            creating.get();
        }
    }
}

TEST_F(JobDistributionImplConcurrencyTest, FileOperationsWaitForTheNamedLock) {
    platform::mutex::NamedMutexImpl other(locks, platform::mutex::classifierLockName(key("spam")));
    std::future<void> saving;
    {
        platform::mutex::AutoLock<platform::mutex::NamedMutexImpl> held(&other);
        saving = std::async(std::launch::async, [&] { repository->save(key("Spam"), "fake\n"); });
        EXPECT_EQ(std::future_status::timeout, saving.wait_for(100ms)) << "the save did not wait";
        EXPECT_FALSE(exists("spam"));
    }
    saving.get();
    EXPECT_TRUE(exists("spam"));
}

}  // namespace
}  // namespace norvale::quillmark
