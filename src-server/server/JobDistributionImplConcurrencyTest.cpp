#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mutex/AutoLock.h"
#include "platform/mutex/NamedMutexImpl.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "platform/mutex/WriterAutoLock.h"
#include "server/ClassifierJournal.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/RepositoryTestSupport.h"
#include "testing/MessageOf.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using std::future_status;

using JobDistributionImplConcurrencyTest = RepositoryTest<3'000, 1'000>;

template <typename F>
auto async(F f) {
    return std::async(std::launch::async, f);
}

// Memory for only a couple of classifiers: readers of c2 and c3 keep evicting c0 and c1 while
// writers hold them in open transactions. A second object loaded from the file beside a held one
// would let two writers commit over each other; of creates racing in different case one wins.
TEST_F(JobDistributionImplConcurrencyTest, NoCommitIsLostWhileClassifiersAreEvictedOrCreated) {
    for (const char* name : {"c0", "c1", "c2", "c3"}) store(name, fakeData({{"n", 0}}, 700));
    constexpr int Writers = 4, Commits = 15;
    std::atomic<bool> writing{true};
    std::atomic<int> created{0};
    std::vector<std::thread> readers, writers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&, r] {
            for (int round = 0; writing; ++round)
                EXPECT_EQ(0, read("c" + std::to_string(2 + (r + round) % 2), "n"));
        });
    }
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
    for (int i = 0; i < 8; ++i) {
        writers.emplace_back([&, i] {
            ClassifierTransactionImpl write(repository.get(), key(i % 2 ? "NEW" : "new"));
            try {
                write.create();
                write.addClass("c" + std::to_string(i));
                write.commit();
                ++created;
            } catch (const ClassifierExistsException&) {
            }
        });
    }
    for (auto& thread : writers) thread.join();
    writing = false;
    for (auto& thread : readers) thread.join();
    EXPECT_EQ(1, created.load());
    for (const bool restarted : {false, true}) {
        if (restarted) restart();  // what reached the files: each classifier file with its journal
        for (const char* name : {"c0", "c1"}) EXPECT_EQ(Writers / 2 * Commits, read(name, "n"));
        EXPECT_EQ(1u, repository->get(key("new"))->classifier().getInformation().size());
    }
}

// A remove waits for the write sequence that holds the classifier, and a write sequence that
// reached the classifier before the remove but got its writer lock after it finds it gone;
// neither may write the file back once it was deleted. A file operation waits for the
// classifier's named lock.
TEST_F(JobDistributionImplConcurrencyTest, RemoveAndSaveWaitForTheirLocks) {
    store("x", fakeData({{"n", 0}}));
    auto holder = std::make_unique<ClassifierTransactionImpl>(repository.get(), key("x"));
    holder->train("n", "t");
    auto removing = async([&] {
        ClassifierTransactionImpl remove(repository.get(), key("X"));
        remove.remove();
        remove.commit();
    });
    EXPECT_EQ(future_status::timeout, removing.wait_for(100ms)) << "the remove did not wait";
    auto late = async([&] {
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

    platform::mutex::NamedMutexImpl other(locks, platform::mutex::classifierLockName(key("spam")));
    std::future<void> saving;
    {
        platform::mutex::AutoLock<platform::mutex::NamedMutexImpl> held(&other);
        saving = async([&] { repository->save(key("Spam"), "fake\n"); });
        EXPECT_EQ(future_status::timeout, saving.wait_for(100ms)) << "the save did not wait";
        EXPECT_FALSE(exists("spam"));
    }
    saving.get();
    EXPECT_TRUE(exists("spam"));
}

// While a cold load reads its file, requests for other classifiers are answered, and every
// request for the loading one waits for the load and shares its outcome: the classifier, or the
// failure of a corrupt file (tried again by the next request). A create of that name waits too
// and then finds it in memory. Sanitizer builds run requests several times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds LoadedBound{1000};
#else
constexpr std::chrono::milliseconds LoadedBound{100};
#endif

TEST_F(JobDistributionImplConcurrencyTest, ColdLoadHoldsOnlyRequestsForItsOwnClassifier) {
    const std::string exists = "Trying to create a classifier that already exists ";
    const struct {
        std::string data, got, created;
    } cases[] = {{fakeData({{"n", 3}}), "3 at ", exists + "(in memory) '" + key("Big") + "'."},
                 {"corrupt", "Not fake data.", exists + "(on disk) '" + key("Big") + "'."}};
    for (const auto& [data, loadedAs, createdAs] : cases) {
        SCOPED_TRACE(data);
        restart();
        store("big", data);
        store("other", fakeData({{"n", 1}}));
        store("third", fakeData({{"n", 2}}));
        EXPECT_EQ(1, read("other", "n"));
        loadFile.hold(key("big"));
        // The count and the address of the classifier fetched, or the failure; read on the
        // test's thread once the create has ended, since the loaders share one exception object
        // and the library counts its references where ThreadSanitizer cannot see them.
        const auto outcome = [&](auto fetch) -> std::string {
            try {
                const auto got = fetch();
                return std::to_string(fake(got->classifier()).count("n")) + " at " +
                       std::to_string(std::uintptr_t(got.get()));
            } catch (const classifier::ClassifierException& e) {
                return e.what();
            }
        };
        auto first = async([&] { return repository->get(key("big")); });
        loadFile.awaitLoad();
        auto second = async([&] { return repository->get(key("BIG")); });
        auto creating = async([&] {
            return messageOf<ClassifierExistsException>([&] { repository->create(key("Big")); });
        });
        auto loaded = async([&] { return read("other", "n"); });
        EXPECT_EQ(future_status::ready, loaded.wait_for(LoadedBound)) << "a loaded one waited";
        auto cold = async([&] { return read("third", "n"); });
        EXPECT_EQ(future_status::ready, cold.wait_for(1s)) << "another cold load waited";
        EXPECT_EQ(future_status::timeout, second.wait_for(50ms)) << "the get did not wait";
        EXPECT_EQ(future_status::timeout, creating.wait_for(0ms)) << "the create did not wait";
        loadFile.release();
        EXPECT_EQ(std::pair(std::int64_t{1}, std::int64_t{2}), std::pair(loaded.get(), cold.get()));
        EXPECT_EQ(createdAs, creating.get());
        const std::string got = outcome([&] { return first.get(); });
        EXPECT_EQ(loadedAs, got.substr(0, loadedAs.size()));
        EXPECT_EQ(got, outcome([&] { return second.get(); }));
        EXPECT_EQ(got, outcome([&] { return repository->get(key("big")); }));
    }
}

// A load of 900 bytes (needing 1800) is under way: the next one counts that memory as taken.
// With "a" in memory (2000 free), one of 150 bytes evicts "a", where alone it would have found
// room and let the two loads overrun the memory; with nothing to evict (3000 free), one of 700
// bytes waits for the load under way to end.
TEST_F(JobDistributionImplConcurrencyTest, ALoadMakesRoomForTheLoadsUnderWay) {
    for (const auto& [aLoaded, sizeOfC] : {std::pair{true, 150}, {false, 700}}) {
        SCOPED_TRACE(aLoaded);
        restart();
        store("a", fakeData({{"a", 1}}));
        store("big", fakeData({{"big", 1}}, 900));
        store("c", fakeData({{"c", 1}}, sizeOfC));
        if (aLoaded) {
            EXPECT_EQ(1, read("a", "a"));
        }
        loadFile.hold(key("big"));
        auto big = async([&] { return read("big", "big"); });
        loadFile.awaitLoad();
        auto c = async([&] { return read("c", "c"); });
        EXPECT_EQ(aLoaded ? future_status::ready : future_status::timeout, c.wait_for(LoadedBound));
        EXPECT_EQ(aLoaded ? std::vector<std::string>{"a"} : std::vector<std::string>{},
                  memory.gone);
        loadFile.release();
        EXPECT_EQ(std::pair(std::int64_t{1}, std::int64_t{1}), std::pair(big.get(), c.get()));
    }
}

// Readers share a classifier; a writer waits for the last reader, and readers and writers wait
// for a writer.
TEST_F(JobDistributionImplConcurrencyTest, ReadersShareAClassifierAndAWriterExcludesEveryone) {
    ThreadSafeClassifier shared(std::make_unique<FakeClassifier>(&memory), 0);
    shared.reader()->lock();
    shared.reader()->lock();
    EXPECT_EQ(future_status::ready,
              async([&] { platform::mutex::ReaderAutoLock held(shared.reader()); }).wait_for(5s));
    auto writer = async([&] { platform::mutex::WriterAutoLock held(shared.writer()); });
    EXPECT_EQ(future_status::timeout, writer.wait_for(50ms));
    shared.reader()->unlock();
    EXPECT_EQ(future_status::timeout, writer.wait_for(50ms));
    shared.reader()->unlock();
    EXPECT_EQ(future_status::ready, writer.wait_for(5s));
    for (const bool reads : {true, false}) {
        shared.writer()->lock();
        auto other = async([&] {
            if (reads)
                platform::mutex::ReaderAutoLock held(shared.reader());
            else
                platform::mutex::WriterAutoLock held(shared.writer());
        });
        EXPECT_EQ(future_status::timeout, other.wait_for(50ms)) << reads;
        shared.writer()->unlock();
        EXPECT_EQ(future_status::ready, other.wait_for(5s)) << reads;
    }
}

// Writers queued on one classifier share a sync: the first waits in its own, the two behind it
// append meanwhile and one more sync makes both durable. Readers wait until then, so none sees a
// change that a failed sync takes back; a failed sync fails the whole group, takes its changes
// back and cuts the journal back to its last durable record.
TEST_F(JobDistributionImplConcurrencyTest, QueuedWritersShareASyncAndAFailedOneTakesTheGroupBack) {
    store("g", fakeData({{"n", 0}}));
    const auto commit = [&] { train("g", "n"); };
    commit();  // starts the journal, durable on its own
    const std::string journal = FileClassifierStore::journalPath(key("g"));
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing sync" : "sync");
        const std::int64_t before = read("g", "n");
        const auto records = [&] {
            return ClassifierJournal::read(io::filesystem::test::TempFolder::read(journal),
                                           content("g"))
                .records.size();
        };
        const std::size_t recordsBefore = records();
        std::promise<void> gate;
        std::shared_future<void> open = gate.get_future().share();
        std::atomic<int> saves{0}, syncs{0};
        saveFile.onSave = [&] { ++saves; };
        saveFile.onSync = [&] {
            if (syncs++ != 0) return;
            open.wait();
            if (fails) throw io::filesystem::SaveFileExceptionImpl("the disk is gone");
        };
        auto first = async(commit);
        while (syncs == 0) std::this_thread::sleep_for(1ms);
        auto second = async(commit), third = async(commit);
        while (saves < 3) std::this_thread::sleep_for(1ms);
        auto reader = async([&] { return read("g", "n"); });
        EXPECT_EQ(future_status::timeout, reader.wait_for(50ms))
            << "a reader saw records not yet durable";
        gate.set_value();
        for (auto* writer : {&first, &second, &third}) {
            if (fails) {
                EXPECT_EQ("the disk is gone",
                          messageOf<io::filesystem::SaveFileException>([&] { writer->get(); }));
            } else {
                EXPECT_NO_THROW(writer->get());
            }
        }
        EXPECT_EQ(fails ? before : before + 3, reader.get());
        EXPECT_EQ(fails ? 1 : 2, syncs.load());
        saveFile.onSave = saveFile.onSync = nullptr;
        EXPECT_EQ(fails ? recordsBefore : recordsBefore + 3, records());
        restart();
        EXPECT_EQ(fails ? before : before + 3, read("g", "n"));
    }
    commit();
    restart();
    EXPECT_EQ(5, read("g", "n"));
}

}  // namespace
}  // namespace norvale::quillmark
