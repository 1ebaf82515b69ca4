#include "server/JobDistributionImpl.h"

#include <gtest/gtest.h>

#include "server/RepositoryFixture.h"

namespace norvale::quillmark {
namespace {

using testing::fake;
using testing::fakeData;

class JobDistributionImplTest : public testing::RepositoryFixture {
protected:
    // The message of the E that call throws.
    template <class E, class Call>
    static std::string failure(Call call) {
        try {
            call();
        } catch (const E& e) {
            return e.what();
        }
        return "no exception";
    }
    auto create(const std::string& key) {
        return [this, key] { _repository->create(key); };
    }
    auto get(const std::string& key) {
        return [this, key] { _repository->get(key); };
    }
};

TEST(JobDistributionImplKeyTest, OnlyTheFileNameIsLowered) {
    EXPECT_EQ("/Tmp/Root/spam-Ä.dat", JobDistributionImpl::fileKey("/Tmp/Root/SPAM-Ä.DAT"));
    EXPECT_EQ("./classifiers//spam.dat", JobDistributionImpl::fileKey("./classifiers//Spam.dat"));
    EXPECT_EQ("spam.dat", JobDistributionImpl::fileKey("Spam.dat"));
}

TEST_F(JobDistributionImplTest, CreateRefusesANameThatExistsInMemoryInAnyCase) {
    const auto created = _repository->create(key("Spam"));
    EXPECT_TRUE(fake(created->classifier()).getInformation().empty());
    EXPECT_EQ("Trying to create a classifier that already exists (in memory) '" + key("sPAM") +
                  "'.",
              failure<ClassifierExistsException>(create(key("sPAM"))));
    // Created in memory only: the file is first written by a commit.
    EXPECT_FALSE(exists("spam"));
    EXPECT_EQ(created, _repository->get(key("SPAM")));
    EXPECT_EQ(1u, _repository->count());
}

TEST_F(JobDistributionImplTest, CreateRefusesANameWhoseFileExists) {
    store("spam", fakeData({{"ham", 1}}));
    EXPECT_EQ("Trying to create a classifier that already exists (on disk) '" + key("Spam") + "'.",
              failure<ClassifierExistsException>(create(key("Spam"))));
    EXPECT_EQ(0u, _repository->count());
    EXPECT_EQ(fakeData({{"ham", 1}}), content("spam"));
}

TEST_F(JobDistributionImplTest, GetOfAMissingClassifierFailsAndEntersNothing) {
    EXPECT_EQ("The requested classifier could not be found. '" + key("Nothing") + "'.",
              failure<ClassifierNotFoundException>(get(key("Nothing"))));
    EXPECT_EQ(0u, _repository->count());
    EXPECT_EQ(0, _memory.live());
}

TEST_F(JobDistributionImplTest, GetLoadsTheFileOnceAndSharesTheClassifier) {
    store("spam", fakeData({{"ham", 2}, {"spam", 5}}));
    const auto first = _repository->get(key("Spam"));
    EXPECT_EQ(5, fake(first->classifier()).count("spam"));
    EXPECT_EQ(2, fake(first->classifier()).count("ham"));
    store("spam", fakeData({{"ham", 7}}));
    const auto second = _repository->get(key("SPAM"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, fake(second->classifier()).count("ham"));
}

TEST_F(JobDistributionImplTest, GetRefreshesTheLastAccessTime) {
    store("spam", fakeData({}));
    const auto loaded = _repository->get(key("spam"));
    const std::int64_t loadedAt = loaded->lastAccess();
    EXPECT_GT(loadedAt, 1'600'000'000);
    loaded->setLastAccess(5);
    EXPECT_EQ(loaded, _repository->get(key("spam")));
    EXPECT_GE(loaded->lastAccess(), loadedAt);
}

TEST_F(JobDistributionImplTest, ACorruptFileFailsEachGetAndIsNeverEntered) {
    store("broken", "not a classifier");
    EXPECT_THROW(_repository->get(key("broken")), classifier::ClassifierException);
    EXPECT_THROW(_repository->get(key("broken")), classifier::ClassifierException);
    EXPECT_EQ(0u, _repository->count());
    store("broken", fakeData({{"fixed", 1}}));
    EXPECT_EQ(1, fake(_repository->get(key("broken"))->classifier()).count("fixed"));
}

TEST_F(JobDistributionImplTest, SaveWritesTheLoweredFileAndARestartLoadsIt) {
    EXPECT_EQ(0u, _repository->size(key("Spam")));
    _repository->save(key("Spam"), fakeData({{"a", 3}}));
    EXPECT_EQ(fakeData({{"a", 3}}), content("spam"));
    EXPECT_FALSE(std::filesystem::exists(_root + "/Spam.dat"));
    EXPECT_EQ(fakeData({{"a", 3}}).size(), _repository->size(key("SPAM")));
    // Saving alone does not touch memory.
    EXPECT_EQ(0u, _repository->count());
    restart();
    EXPECT_EQ(3, fake(_repository->get(key("sPaM"))->classifier()).count("a"));
}

TEST_F(JobDistributionImplTest, RemoveDeletesFileAndEntryWhileHoldersKeepTheirClassifier) {
    store("spam", fakeData({{"a", 1}}));
    const auto held = _repository->get(key("spam"));
    _repository->remove(key("SPAM"));
    EXPECT_FALSE(exists("spam"));
    EXPECT_EQ(0u, _repository->count());
    EXPECT_EQ(1, fake(held->classifier()).count("a"));
    EXPECT_THROW(_repository->get(key("spam")), ClassifierNotFoundException);
    EXPECT_NO_THROW(_repository->create(key("spam")));
}

TEST_F(JobDistributionImplTest, RemoveOfANeverExistingClassifierLeavesNothingBehind) {
    EXPECT_NO_THROW(_repository->remove(key("Never")));
    EXPECT_EQ(0u, _repository->count());
    EXPECT_FALSE(exists("never"));
    for (const auto& entry : std::filesystem::directory_iterator(_root)) {
        ADD_FAILURE() << "left behind: " << entry.path();
    }
}

TEST_F(JobDistributionImplTest, FileOperationsUseTheirNamedLockFile) {
    _repository->save(key("Spam"), fakeData({}));
    const std::string lockName = platform::mutex::classifierLockName(_root + "/spam.dat");
    EXPECT_TRUE(std::filesystem::exists(_locks + "/" + lockName)) << lockName;
}

// Three loaded classifiers, each using 1000 bytes of 10000 while it lives, and a fourth whose
// file needs 2 * 4250 bytes to load: loading it must evict the two oldest, then stop.
class JobDistributionImplEvictionTest : public JobDistributionImplTest {
protected:
    JobDistributionImplEvictionTest() {
        _repository = std::make_unique<JobDistributionImpl>(&_accountFactory, &_account,
                                                            &_loadFile, &_saveFile, &_existsFile,
                                                            &_sizeFile, &_removeFile, _locks);
    }
    // Its classifiers report to this fixture's account, which goes before the base's members.
    ~JobDistributionImplEvictionTest() override { _repository.reset(); }

    void loadThree(std::int64_t timeA, std::int64_t timeB, std::int64_t timeC) {
        for (const auto& [name, time] : {std::pair{"a", timeA}, {"b", timeB}, {"c", timeC}}) {
            store(name, fakeData({{name, 1}}));
            _repository->get(key(name))->setLastAccess(time);
        }
        storeD(FileSize);
    }
    void storeD(std::size_t size) {
        store("d", fakeData({{"d", 1}}, size - fakeData({{"d", 1}}).size()));
        ASSERT_EQ(size, _repository->size(key("d")));
    }

    static constexpr std::uint64_t FileSize = 4250;
    testing::MemoryAccount _account{10'000, 1000};
    testing::FakeClassifierFactory _accountFactory{&_account};
};

TEST_F(JobDistributionImplEvictionTest, EvictsOldestFirstAndStopsWhenEnoughIsFree) {
    loadThree(100, 300, 200);
    ASSERT_EQ(7000u, _account.available());
    _repository->get(key("d"));
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), _account.destroyed());
    EXPECT_EQ(2u, _repository->count());
    EXPECT_EQ(2, _account.live());
}

TEST_F(JobDistributionImplEvictionTest, EqualTimesEvictInKeyOrder) {
    loadThree(100, 100, 100);
    _repository->get(key("d"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), _account.destroyed());
}

TEST_F(JobDistributionImplEvictionTest, NothingIsEvictedWhenMemoryIsPlentyOrTheClassifierIsIn) {
    loadThree(100, 300, 200);
    _repository->get(key("a"));
    EXPECT_TRUE(_account.destroyed().empty());
    _repository->remove(key("c"));
    _repository->remove(key("b"));
    ASSERT_EQ(9000u, _account.available());
    _repository->get(key("d"));
    EXPECT_EQ((std::vector<std::string>{"c", "b"}), _account.destroyed());
    EXPECT_EQ(2u, _repository->count());
}

TEST_F(JobDistributionImplEvictionTest, StopsAfterTheLastOneWhenMemoryNeverSuffices) {
    loadThree(100, 300, 200);
    storeD(6000);
    _repository->get(key("d"));
    EXPECT_EQ((std::vector<std::string>{"a", "c", "b"}), _account.destroyed());
    EXPECT_EQ(1u, _repository->count());
}

TEST_F(JobDistributionImplEvictionTest, AnEvictedClassifierLivesOnWhileHeld) {
    loadThree(100, 300, 200);
    const auto held = _repository->get(key("b"));
    held->setLastAccess(1);
    _repository->get(key("d"));
    // "b" went first but frees nothing while held, so "a" and "c" had to go as well.
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), _account.destroyed());
    EXPECT_EQ(1u, _repository->count());
    EXPECT_EQ(1, fake(held->classifier()).count("b"));
    // While it is held, a get enters that object again instead of a second one from the file.
    EXPECT_EQ(held, _repository->get(key("b")));
    EXPECT_EQ(2u, _repository->count());
    EXPECT_EQ(2, _account.live());
}

}  // namespace
}  // namespace norvale::quillmark
