#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/RepositoryFixture.h"

namespace norvale::quillmark {
namespace {

using testing::fake;
using testing::fakeData;
using namespace std::chrono_literals;

class JobDistributionImplConcurrencyTest : public testing::RepositoryFixture {
protected:
    // One read call: the counts of a class under the classifier's reader lock.
    std::int64_t read(const std::string& name, const std::string& className) {
        const auto classifier = _repository->get(key(name));
        platform::mutex::ReaderAutoLock lock(classifier->reader());
        return fake(classifier->classifier()).count(className);
    }
};

TEST_F(JobDistributionImplConcurrencyTest, AReadWaitsForTheWriteSequenceAndSeesItsCommit) {
    store("spam", fakeData({{"ham", 1}}));
    std::promise<void> opened;
    std::promise<void> proceed;
    std::thread writer([&] {
        ClassifierTransactionImpl write(_repository.get(), key("spam"));
        write.getClassifier().train("ham", "x");
        opened.set_value();
        proceed.get_future().wait();
        write.getClassifier().train("ham", "y");
        write.commit();
    });
    opened.get_future().wait();
    auto reading = std::async(std::launch::async, [&] { return read("SPAM", "ham"); });
    EXPECT_EQ(std::future_status::timeout, reading.wait_for(100ms))
        << "the read did not wait for the write sequence";
    proceed.set_value();
    EXPECT_EQ(3, reading.get());
    writer.join();
}

TEST_F(JobDistributionImplConcurrencyTest, ConcurrentTransactionsLoseNoUpdate) {
    store("spam", fakeData({{"ham", 0}}));
    constexpr int Writers = 8;
    constexpr int Commits = 25;
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            std::int64_t last = 0;
            while (writing.load()) {
                const std::int64_t now = read("spam", "ham");
                EXPECT_LE(last, now);
                last = now;
                ++reads;
            }
        });
    }
    std::vector<std::thread> writers;
    for (int i = 0; i < Writers; ++i) {
        writers.emplace_back([&] {
            for (int n = 0; n < Commits; ++n) {
                ClassifierTransactionImpl write(_repository.get(), key(n % 2 ? "Spam" : "spam"));
                write.getClassifier().train("ham", "text");
                write.commit();
            }
        });
    }
    for (auto& thread : writers) thread.join();
    writing = false;
    for (auto& thread : readers) thread.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(Writers * Commits, read("spam", "ham"));
    EXPECT_EQ(fakeData({{"ham", Writers * Commits}}), content("spam"));
}

TEST_F(JobDistributionImplConcurrencyTest, OneCreateWinsAmongManyWithDifferentCase) {
    constexpr int Creators = 8;
    std::atomic<int> created{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> creators;
    for (int i = 0; i < Creators; ++i) {
        creators.emplace_back([&, i] {
            ClassifierTransactionImpl write(_repository.get(), key(i % 2 ? "NEW" : "new"));
            try {
                write.create();
                write.getClassifier().addClass("c" + std::to_string(i));
                write.commit();
                ++created;
            } catch (const ClassifierExistsException&) {
                ++refused;
            }
        });
    }
    for (auto& thread : creators) thread.join();
    EXPECT_EQ(1, created.load());
    EXPECT_EQ(Creators - 1, refused.load());
    EXPECT_EQ(1u, _repository->count());
    restart();
    EXPECT_EQ(1u, _repository->get(key("new"))->classifier().getInformation().size());
}

TEST_F(JobDistributionImplConcurrencyTest, AFileOperationWaitsForTheNamedLock) {
    platform::mutex::NamedMutexImpl other(_locks, platform::mutex::classifierLockName(file("spam")));
    std::future<void> saving;
    {
        platform::mutex::AutoLock<platform::mutex::NamedMutexImpl> held(&other);
        saving = std::async(std::launch::async,
                            [&] { _repository->save(key("Spam"), fakeData({{"a", 1}})); });
        EXPECT_EQ(std::future_status::timeout, saving.wait_for(100ms))
            << "the save did not wait for the lock another process holds";
        EXPECT_FALSE(exists("spam"));
    }
    saving.get();
    EXPECT_EQ(fakeData({{"a", 1}}), content("spam"));
}

// Memory so short that every load evicts: readers of two classifiers keep pushing out the two
// that writers train, while the writers hold them in open transactions. A second object loaded
// from the file beside a held one would let two writers commit over each other.
TEST(JobDistributionImplEvictionRaceTest, EvictionNeverLosesACommit) {
    io::filesystem::test::TempFolder folder;
    const std::string root = folder.path("classifiers");
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(folder.path("locks"));
    testing::MemoryAccount memory(3'000, 1'000);
    testing::FakeClassifierFactory factory(&memory);
    io::filesystem::LoadFileImpl loadFile;
    testing::FailingSaveFile saveFile;
    io::filesystem::ExistsFileImpl existsFile;
    io::filesystem::SizeFileImpl sizeFile;
    io::filesystem::RemoveFileImpl removeFile;
    JobDistributionImpl repository(&factory, &memory, &loadFile, &saveFile, &existsFile, &sizeFile,
                                   &removeFile, folder.path("locks"));
    const auto key = [&](int i) { return root + "/c" + std::to_string(i) + ".dat"; };
    for (int i = 0; i < 4; ++i) {
        folder.write("classifiers/c" + std::to_string(i) + ".dat", fakeData({{"n", 0}}, 700));
    }

    constexpr int Writers = 4;
    constexpr int Commits = 15;
    std::atomic<bool> writing{true};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&, r] {
            for (int round = 0; writing.load(); ++round) {
                const auto classifier = repository.get(key(2 + (r + round) % 2));
                platform::mutex::ReaderAutoLock lock(classifier->reader());
                EXPECT_EQ(0, fake(classifier->classifier()).count("n"));
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            for (int n = 0; n < Commits; ++n) {
                ClassifierTransactionImpl write(&repository, key(w % 2));
                write.getClassifier().train("n", "x");
                std::this_thread::sleep_for(1ms);
                write.commit();
            }
        });
    }
    for (auto& thread : writers) thread.join();
    writing = false;
    for (auto& thread : readers) thread.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Writers / 2 * Commits, fake(repository.get(key(i))->classifier()).count("n"));
        EXPECT_EQ(fakeData({{"n", Writers / 2 * Commits}}),
                  io::filesystem::test::TempFolder::read(key(i)));
    }
}

}  // namespace
}  // namespace norvale::quillmark
