#include "server/JobDistributionImpl.h"

#include <gtest/gtest.h>

#include "server/RepositoryTestSupport.h"

namespace norvale::quillmark {
namespace {

using testing::failure;
using testing::fake;
using testing::fakeData;
using Names = std::vector<std::string>;

using JobDistributionImplTest = testing::RepositoryFixture;

TEST(JobDistributionImplKeyTest, OnlyTheFileNameIsLowered) {
    EXPECT_EQ("/Tmp/Root/spam-Ä-az.dat", JobDistributionImpl::fileKey("/Tmp/Root/SPAM-Ä-AZ.DAT"));
    EXPECT_EQ("./classifiers//spam.dat", JobDistributionImpl::fileKey("./classifiers//Spam.dat"));
    EXPECT_EQ("spam.dat", JobDistributionImpl::fileKey("Spam.dat"));
}

TEST_F(JobDistributionImplTest, CreateRefusesANameInMemoryOrOnDiskInAnyCase) {
    const auto created = _repository->create(key("Spam"));
    EXPECT_EQ("Trying to create a classifier that already exists (in memory) '" + key("sPAM") + "'.",
              failure<ClassifierExistsException>([&] { _repository->create(key("sPAM")); }));
    EXPECT_FALSE(exists("spam"));  // first written by a commit
    EXPECT_EQ(created, _repository->get(key("SPAM")));

    store("ham", fakeData({{"a", 1}}));
    EXPECT_EQ("Trying to create a classifier that already exists (on disk) '" + key("Ham") + "'.",
              failure<ClassifierExistsException>([&] { _repository->create(key("Ham")); }));
    EXPECT_EQ(1u, _repository->count());
    EXPECT_EQ(fakeData({{"a", 1}}), content("ham"));
}

TEST_F(JobDistributionImplTest, GetLoadsOnceAndEntersOnlyWhatLoaded) {
    EXPECT_EQ("The requested classifier could not be found. '" + key("Nothing") + "'.",
              failure<ClassifierNotFoundException>([&] { _repository->get(key("Nothing")); }));
    store("broken", "not a classifier");
    EXPECT_THROW(_repository->get(key("broken")), classifier::ClassifierException);
    EXPECT_EQ(0u, _repository->count());
    EXPECT_EQ(0, _memory.live.load());

    store("broken", fakeData({{"a", 2}}));
    const auto loaded = _repository->get(key("Broken"));
    EXPECT_EQ(2, fake(loaded->classifier()).count("a"));
    loaded->setLastAccess(5);
    store("broken", fakeData({{"a", 7}}));
    EXPECT_EQ(loaded, _repository->get(key("BROKEN")));
    EXPECT_GT(loaded->lastAccess(), 1'600'000'000);
}

TEST_F(JobDistributionImplTest, SaveWritesTheLoweredFileThatARestartLoads) {
    EXPECT_EQ(0u, _repository->size(key("Spam")));
    _repository->save(key("Spam"), fakeData({{"a", 3}}));
    EXPECT_EQ(fakeData({{"a", 3}}), content("spam"));
    EXPECT_EQ(fakeData({{"a", 3}}).size(), _repository->size(key("SPAM")));
    EXPECT_TRUE(std::filesystem::exists(
        _locks + "/" + platform::mutex::classifierLockName(_root + "/spam.dat")));
    EXPECT_EQ(0u, _repository->count());
    restart();
    EXPECT_EQ(3, read("sPaM", "a"));
}

TEST_F(JobDistributionImplTest, RemoveLeavesNothingBehindButHoldersKeepTheirClassifier) {
    EXPECT_NO_THROW(_repository->remove(key("Never")));
    EXPECT_TRUE(std::filesystem::is_empty(_root));
    // Names asked for by clients cost no lock file of their own.
    for (int n = 0; n < 1000; ++n) {
        EXPECT_THROW(_repository->get(key("missing" + std::to_string(n))),
                     ClassifierNotFoundException);
    }
    const auto lockFiles = std::distance(std::filesystem::directory_iterator(_locks),
                                         std::filesystem::directory_iterator{});
    EXPECT_LE(lockFiles, platform::mutex::ClassifierLockStripes);

    store("spam", fakeData({{"a", 1}}));
    const auto held = _repository->get(key("spam"));
    _repository->remove(key("SPAM"));
    EXPECT_FALSE(exists("spam"));
    EXPECT_EQ(0u, _repository->count());
    EXPECT_EQ(1, fake(held->classifier()).count("a"));
    EXPECT_THROW(_repository->get(key("spam")), ClassifierNotFoundException);
}

// Three loaded classifiers using 1000 bytes each of 10000; the fourth's file needs twice 4250.
class JobDistributionImplEvictionTest : public testing::RepositoryFixture {
protected:
    JobDistributionImplEvictionTest() : RepositoryFixture(10'000, 1000) {}

    void loadThree(std::int64_t a, std::int64_t b, std::int64_t c, std::size_t sizeOfD = 4250) {
        for (const auto& [name, time] : {std::pair{"a", a}, {"b", b}, {"c", c}}) {
            store(name, fakeData({{name, 1}}));
            _repository->get(key(name))->setLastAccess(time);
        }
        store("d", fakeData({{"d", 1}}, sizeOfD));
        ASSERT_EQ(7000u, _memory.available());
    }
};

// Oldest first until enough is free; equal times go in key order, and all go when that is never
// enough. A get of a classifier in memory makes room for nothing.
TEST_F(JobDistributionImplEvictionTest, OldestFirstThenInKeyOrderUntilEnoughIsFree) {
    const struct {
        std::int64_t a, b, c;
        std::size_t sizeOfD;
        Names destroyed;
    } cases[] = {{100, 300, 200, 4250, {"a", "c"}}, {100, 100, 100, 6000, {"a", "b", "c"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sizeOfD);
        restart();
        _memory.gone.clear();
        loadThree(c.a, c.b, c.c, c.sizeOfD);
        _repository->get(key("a"))->setLastAccess(c.a);
        EXPECT_TRUE(_memory.destroyed().empty());
        _repository->get(key("d"));
        EXPECT_EQ(c.destroyed, _memory.destroyed());
        EXPECT_EQ(4 - c.destroyed.size(), _repository->count());
    }
}

TEST_F(JobDistributionImplEvictionTest, AHeldClassifierIsEnteredAgainNotLoadedTwice) {
    loadThree(100, 300, 200);
    const auto held = _repository->get(key("b"));
    held->setLastAccess(1);
    _repository->get(key("d"));
    // "b" went first but freed nothing while held, so "a" and "c" went as well.
    EXPECT_EQ((Names{"a", "c"}), _memory.destroyed());
    EXPECT_EQ(1u, _repository->count());
    EXPECT_EQ("Trying to create a classifier that already exists (in memory) '" + key("B") + "'.",
              failure<ClassifierExistsException>([&] { _repository->create(key("B")); }));
    EXPECT_EQ(held, _repository->get(key("b")));
    EXPECT_EQ(2, _memory.live.load());
}

}  // namespace
}  // namespace norvale::quillmark
