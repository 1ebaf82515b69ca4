#include "server/JobDistributionImpl.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "platform/mutex/NamedMutexImpl.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/RepositoryTestSupport.h"
#include "testing/MessageOf.h"

namespace norvale::quillmark {
namespace {

using namespace testing;
namespace fs = std::filesystem;

using JobDistributionImplTest = RepositoryTest<>;

// Keys whose file names differ in ASCII case only name one classifier, in memory and on disk.
// Only what loaded is entered, once; a remove deletes the file while holders keep their object;
// names asked for by clients cost no lock file of their own.
TEST_F(JobDistributionImplTest, KeysOfOneNameShareTheirClassifierAndOnlyWhatLoadedIsEntered) {
    EXPECT_EQ("/Tmp/Root/spam-Ä-az.dat", FileClassifierStore::fileKey("/Tmp/Root/SPAM-Ä-AZ.DAT"));
    const auto created = repository->create(key("Spam"));
    EXPECT_EQ(
        "Trying to create a classifier that already exists (in memory) '" + key("sPAM") + "'.",
        messageOf<ClassifierExistsException>([&] { repository->create(key("sPAM")); }));
    EXPECT_FALSE(exists("spam"));  // first written by a commit
    created->setUncommitted(false);
    EXPECT_EQ(created, repository->get(key("SPAM")));
    store("ham", fakeData({{"a", 1}}));
    EXPECT_EQ("Trying to create a classifier that already exists (on disk) '" + key("Ham") + "'.",
              messageOf<ClassifierExistsException>([&] { repository->create(key("Ham")); }));
    EXPECT_EQ("The requested classifier could not be found. '" + key("Nothing") + "'.",
              messageOf<ClassifierNotFoundException>([&] { repository->get(key("Nothing")); }));
    store("broken", "not a classifier");
    EXPECT_THROW(repository->get(key("broken")), classifier::ClassifierException);
    EXPECT_EQ(1u, repository->count());
    EXPECT_EQ(1, memory.live.load());
    EXPECT_EQ(0u, repository->size(key("Eggs")));
    repository->save(key("Eggs"), fakeData({{"a", 3}}));
    EXPECT_EQ(fakeData({{"a", 3}}).size(), repository->size(key("EGGS")));
    EXPECT_TRUE(fs::exists(locks + "/" + platform::mutex::classifierLockName(root + "/eggs.dat")));
    restart();
    EXPECT_EQ(3, read("eGgS", "a"));

    const auto loaded = repository->get(key("Eggs"));
    loaded->setLastAccess(5);
    store("eggs", fakeData({{"a", 7}}));
    EXPECT_EQ(loaded, repository->get(key("EGGS")));
    EXPECT_GT(loaded->lastAccess(), 1'600'000'000);
    repository->remove(key("EGGS"));
    EXPECT_FALSE(exists("eggs"));
    EXPECT_EQ(0u, repository->count());
    EXPECT_EQ(3, fake(loaded->classifier()).count("a"));
    EXPECT_THROW(repository->get(key("eggs")), ClassifierNotFoundException);
    EXPECT_NO_THROW(repository->remove(key("Never")));
    for (int n = 0; n < 1000; ++n)
        EXPECT_THROW(repository->get(key("x" + std::to_string(n))), ClassifierNotFoundException);
    EXPECT_LE(std::distance(fs::directory_iterator(locks), {}),
              platform::mutex::ClassifierLockStripes);
}

// A classifier that a write sequence created is handed to nobody else until the sequence
// commits: no other request reads or changes what may still be taken out again.
TEST_F(JobDistributionImplTest, ACreatedClassifierIsNobodyElsesUntilItsSequenceCommits) {
    {
        ClassifierTransactionImpl transaction(repository.get(), key("new"));
        transaction.create();
        EXPECT_THROW(repository->get(key("NEW")), ClassifierNotFoundException);
        EXPECT_THROW(repository->getForWriting(key("new")), ClassifierNotFoundException);
        EXPECT_THROW(repository->create(key("new")), ClassifierExistsException);
    }
    EXPECT_THROW(repository->get(key("new")), ClassifierNotFoundException);
}

// A stop that cannot store a classifier whole keeps its journal and says so. Had it stopped
// between storing the file and dropping the journal, the load drops that journal, which extends
// the content before, replays nothing twice and says so too.
TEST_F(JobDistributionImplTest, JournalsLeftByAStopAreLogged) {
    store("a", fakeData({{"a", 1}}));
    train("a", "a");
    const std::string journal = FileClassifierStore::journalPath(key("a"));
    const std::string records = io::filesystem::test::TempFolder::read(journal);
    saveFile.failWith = "The disk is full.";
    repository->checkpoint();
    EXPECT_EQ((std::vector<std::string>{"The classifier " + key("a") +
                                        " could not be stored whole at the stop: The disk is "
                                        "full. Its journal stays; the next load replays it."}),
              log.texts("Log"));
    EXPECT_TRUE(fs::exists(journal));
    saveFile.failWith = nullptr;
    repository->checkpoint();
    folder.write("classifiers/a.dat.journal", records);
    restart();
    EXPECT_EQ(2, read("a", "a"));
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ("The journal " + journal + " extended an earlier content of " + key("a") +
                  ", stored whole since; it was dropped.",
              log.texts("Log").back());
}

// A journal removed from outside while its classifier is in memory, before the journal was held
// open and after (once the interval between two looks at an open journal has passed): the next
// commit stores the classifier whole, so that its file holds every commit, and the log says so.
TEST_F(JobDistributionImplTest, AJournalRemovedFromOutsideIsReplacedByTheWholeClassifier) {
    const std::string journal = FileClassifierStore::journalPath(key("a"));
    for (const std::uint32_t commitsBefore : {1u, 3u}) {
        SCOPED_TRACE(commitsBefore);
        restart();
        store("a", fakeData({{"a", 0}}));
        for (std::uint32_t i = 0; i < commitsBefore; ++i) train("a", "a");
        if (commitsBefore > 1)
            std::this_thread::sleep_for(FileClassifierStore::JournalCheckInterval);
        ASSERT_TRUE(fs::remove(journal));
        train("a", "a");
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(fakeData({{"a", commitsBefore + 1}}), content("a"));
        EXPECT_EQ("The journal " + journal +
                      " was removed or replaced while in use; the classifier is stored whole.",
                  log.texts("Log").back());
    }
}

// Journals are held open between appends, but at most 16: training 40 classifiers in turn opens
// no more, and a journal closed meanwhile is opened again by its next append, which follows its
// last record.
TEST_F(JobDistributionImplTest, AtMostSixteenJournalsAreHeldOpen) {
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = openFiles();
    for (std::uint32_t round = 0; round < 3; ++round) {
        for (int i = 0; i < 40; ++i) {
            const std::string name = "c" + std::to_string(i);
            if (round == 0) store(name, fakeData({{"a", 0}}));
            train(name, "a");
        }
    }
    EXPECT_LE(openFiles() - before, 16);
    restart();
    for (int i = 0; i < 40; ++i) EXPECT_EQ(3, read("c" + std::to_string(i), "a"));
}

// Three loaded classifiers using 1000 bytes each of 10000, used last at the times given; the
// file of the fourth needs twice its size. Oldest first until enough is free; equal times go in
// key order, and all go when that is never enough. A get of a classifier in memory makes room
// for nothing; a held classifier frees nothing, stays in memory and is entered again.
using JobDistributionImplEvictionTest = RepositoryTest<10'000, 1000>;

TEST_F(JobDistributionImplEvictionTest, OldestFirstThenInKeyOrderUntilEnoughIsFree) {
    const struct {
        std::int64_t a, b, c;
        std::size_t sizeOfD;
        bool holdB;
        std::vector<std::string> destroyed;
    } cases[] = {{100, 300, 200, 4250, false, {"a", "c"}},
                 {100, 100, 100, 6000, false, {"a", "b", "c"}},
                 {100, 1, 200, 4250, true, {"a", "c"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sizeOfD);
        restart();
        for (const auto& [name, time] : {std::pair{"a", c.a}, {"b", c.b}, {"c", c.c}}) {
            store(name, fakeData({{name, 1}}));
            repository->get(key(name))->setLastAccess(time);
        }
        store("d", fakeData({{"d", 1}}, c.sizeOfD));
        const auto held = c.holdB ? repository->get(key("b")) : nullptr;
        if (held) held->setLastAccess(c.b);
        repository->get(key("a"))->setLastAccess(c.a);
        EXPECT_TRUE(memory.gone.empty());
        repository->get(key("d"));
        EXPECT_EQ(c.destroyed, memory.gone);
        EXPECT_EQ(4 - c.destroyed.size() - (c.holdB ? 1 : 0), repository->count());
        if (held) {
            EXPECT_THROW(repository->create(key("B")), ClassifierExistsException);
            EXPECT_EQ(held, repository->get(key("b")));
            EXPECT_EQ(2, memory.live.load());
        }
    }
}

// Training in place left a journal in the oldest of two classifiers. Evicted, it is written whole
// and its journal dropped before the load that made room, and the memory it frees counts before
// anything else goes; while someone reads it, it frees nothing and waits for the orderly stop.
TEST_F(JobDistributionImplEvictionTest, AnEvictedClassifierFoldsItsJournalUnlessItIsInUse) {
    for (const bool inUse : {false, true}) {
        SCOPED_TRACE(inUse);
        restart();
        store("a", fakeData({{"a", 1}}));
        store("b", fakeData({{"b", 1}}));
        train("a", "a");
        const std::string journal = FileClassifierStore::journalPath(key("a"));
        ASSERT_TRUE(fs::exists(journal));
        repository->get(key("b"))->setLastAccess(200);
        store("d", fakeData({{"d", 1}}, 4100));
        const auto holder = inUse ? repository->get(key("a")) : nullptr;
        repository->get(key("a"))->setLastAccess(100);
        std::optional<platform::mutex::ReaderAutoLock> reading;
        if (holder) reading.emplace(holder->reader());
        repository->get(key("d"));
        EXPECT_EQ(std::vector<std::string>{inUse ? "b" : "a"}, memory.gone);
        EXPECT_EQ(inUse, fs::exists(journal));
        EXPECT_EQ(inUse ? fakeData({{"a", 1}}) : fakeData({{"a", 2}}), content("a"));
        reading.reset();
        repository->checkpoint();
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(fakeData({{"a", 2}}), content("a"));
    }
}

}  // namespace
}  // namespace norvale::quillmark
