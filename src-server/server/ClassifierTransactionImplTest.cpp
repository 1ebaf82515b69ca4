#include "server/ClassifierTransactionImpl.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "server/RepositoryFixture.h"

namespace norvale::quillmark {
namespace {

using testing::fake;
using testing::fakeData;
using State = ClassifierTransactionImpl::TransactionState;

class ClassifierTransactionImplTest : public testing::RepositoryFixture {
protected:
    std::unique_ptr<ClassifierTransactionImpl> transaction(const std::string& name) {
        return std::make_unique<ClassifierTransactionImpl>(_repository.get(), key(name));
    }
    // The counts of the classifier as the repository holds it now.
    std::int64_t shared(const std::string& name, const std::string& className) {
        return fake(_repository->get(key(name))->classifier()).count(className);
    }
};

TEST_F(ClassifierTransactionImplTest, CreateCommitsToFileAndMemory) {
    auto write = transaction("Spam");
    write->create();
    EXPECT_EQ(State::Created, write->state());
    write->getClassifier().addClass("ham");
    write->getClassifier().train("ham", "text");
    EXPECT_FALSE(exists("spam"));
    write->commit();
    EXPECT_EQ(State::Committed, write->state());
    EXPECT_EQ(fakeData({{"ham", 1}}), content("spam"));
    write.reset();
    EXPECT_EQ(1u, _repository->count());
    EXPECT_EQ(1, shared("SPAM", "ham"));
    restart();
    EXPECT_EQ(1, shared("spam", "ham"));
}

TEST_F(ClassifierTransactionImplTest, ARolledBackCreateLeavesNoEntryAndNoFile) {
    {
        auto write = transaction("Spam");
        write->create();
        write->getClassifier().addClass("ham");
        EXPECT_THROW(write->getClassifier().addClass("ham"), classifier::ClassifierException);
    }
    EXPECT_EQ(0u, _repository->count());
    EXPECT_FALSE(exists("spam"));
    EXPECT_EQ(0, _memory.live());
    auto again = transaction("spam");
    EXPECT_NO_THROW(again->create());
}

TEST_F(ClassifierTransactionImplTest, AFailedCreateNeverTakesOutTheExistingClassifier) {
    store("spam", fakeData({{"ham", 4}}));
    {
        auto write = transaction("Spam");
        EXPECT_THROW(write->create(), ClassifierExistsException);
        EXPECT_EQ(State::None, write->state());
    }
    EXPECT_EQ(fakeData({{"ham", 4}}), content("spam"));
    const auto loaded = _repository->get(key("spam"));
    {
        auto write = transaction("SPAM");
        EXPECT_THROW(write->create(), ClassifierExistsException);
    }
    EXPECT_EQ(loaded, _repository->get(key("spam")));
    EXPECT_EQ(fakeData({{"ham", 4}}), content("spam"));
}

TEST_F(ClassifierTransactionImplTest, ChangesStayInTheCopyUntilCommit) {
    store("spam", fakeData({{"ham", 1}}));
    auto write = transaction("Spam");
    classifier::Classifier& copy = write->getClassifier();
    EXPECT_EQ(State::Opened, write->state());
    copy.train("ham", "x");
    copy.addClass("eggs");
    EXPECT_EQ(&copy, &write->getClassifier());
    EXPECT_EQ(2, fake(write->getClassifier()).count("ham"));
    // Single-threaded, so reading the shared classifier under the transaction's writer lock is
    // safe here.
    EXPECT_EQ(1, shared("spam", "ham"));
    EXPECT_EQ(-1, shared("spam", "eggs"));
    write->commit();
    EXPECT_EQ(2, shared("spam", "ham"));
    EXPECT_EQ(0, shared("spam", "eggs"));
    EXPECT_EQ(fakeData({{"eggs", 0}, {"ham", 2}}), content("spam"));
}

TEST_F(ClassifierTransactionImplTest, AnUncommittedOpenChangesNothing) {
    store("spam", fakeData({{"ham", 1}}));
    transaction("spam")->getClassifier().train("ham", "x");
    EXPECT_EQ(1, shared("spam", "ham"));
    EXPECT_EQ(fakeData({{"ham", 1}}), content("spam"));
    // The writer lock went with the transaction: a second one opens and commits.
    auto next = transaction("spam");
    next->getClassifier().train("ham", "y");
    next->commit();
    EXPECT_EQ(2, shared("spam", "ham"));
}

TEST_F(ClassifierTransactionImplTest, GetClassifierOfAMissingClassifierFails) {
    auto write = transaction("Nothing");
    EXPECT_THROW(write->getClassifier(), ClassifierNotFoundException);
    EXPECT_EQ(State::None, write->state());
    write.reset();
    EXPECT_EQ(0u, _repository->count());
}

TEST_F(ClassifierTransactionImplTest, RemoveThenGetClassifierFailsAndCommitDeletes) {
    store("spam", fakeData({{"ham", 1}}));
    auto write = transaction("Spam");
    write->getClassifier().train("ham", "x");
    write->remove();
    EXPECT_EQ(State::Removed, write->state());
    try {
        write->getClassifier();
        ADD_FAILURE() << "no exception";
    } catch (const ClassifierNotFoundException& e) {
        EXPECT_STREQ(("Trying to get a classifier that has been marked for deletion '" +
                      key("Spam") + "'.")
                         .c_str(),
                     e.what());
    }
    // Nothing is deleted before commit, and the writer lock is already free.
    EXPECT_TRUE(exists("spam"));
    EXPECT_EQ(1, shared("spam", "ham"));
    write->commit();
    EXPECT_FALSE(exists("spam"));
    EXPECT_EQ(0u, _repository->count());
}

TEST_F(ClassifierTransactionImplTest, AnUncommittedRemoveKeepsTheClassifier) {
    store("spam", fakeData({{"ham", 1}}));
    transaction("spam")->remove();
    EXPECT_TRUE(exists("spam"));
    EXPECT_EQ(1, shared("spam", "ham"));
}

TEST_F(ClassifierTransactionImplTest, RemoveOfANeverExistingClassifierCommits) {
    auto write = transaction("Never");
    write->remove();
    EXPECT_NO_THROW(write->commit());
    write.reset();
    EXPECT_EQ(0u, _repository->count());
    EXPECT_TRUE(std::filesystem::is_empty(_root));
}

TEST_F(ClassifierTransactionImplTest, CreateAfterRemoveInOneTransaction) {
    auto write = transaction("spam");
    write->remove();
    write->create();
    write->getClassifier().addClass("x");
    write->commit();
    EXPECT_EQ(0, shared("spam", "x"));
}

TEST_F(ClassifierTransactionImplTest, ACommitWhoseSaveFailsChangesNeitherMemoryNorFile) {
    store("spam", fakeData({{"ham", 1}}));
    _saveFile.fail = true;
    {
        auto write = transaction("spam");
        write->getClassifier().train("ham", "x");
        EXPECT_THROW(write->commit(), io::filesystem::SaveFileException);
        EXPECT_EQ(State::Opened, write->state());
    }
    EXPECT_EQ(1, shared("spam", "ham"));
    EXPECT_EQ(fakeData({{"ham", 1}}), content("spam"));
    {
        auto write = transaction("fresh");
        write->create();
        EXPECT_THROW(write->commit(), io::filesystem::SaveFileException);
    }
    EXPECT_FALSE(exists("fresh"));
    EXPECT_EQ(1u, _repository->count());
    _saveFile.fail = false;
    auto write = transaction("spam");
    write->getClassifier().train("ham", "y");
    write->commit();
    EXPECT_EQ(2, shared("spam", "ham"));
}

TEST_F(ClassifierTransactionImplTest, ACommitWithoutWriteCallsWritesNothing) {
    auto write = transaction("spam");
    write->commit();
    EXPECT_EQ(State::Committed, write->state());
    EXPECT_EQ(0, _saveFile.saved.load());
    EXPECT_EQ(0u, _repository->count());
}

TEST_F(ClassifierTransactionImplTest, CommitFreesTheOldState) {
    store("spam", fakeData({{"ham", 1}}));
    auto write = transaction("spam");
    write->getClassifier().train("ham", "x");
    EXPECT_EQ(2, _memory.live());
    write->commit();
    EXPECT_EQ(1, _memory.live());
    EXPECT_EQ((std::vector<std::string>{"ham"}), _memory.destroyed());
}

// A repository that creates without asking, so that a second create reaches the check that a
// transaction never opens twice.
class CreatingRepository : public JobDistribution {
public:
    std::shared_ptr<ThreadSafeClassifier> create(const std::string&) override {
        return std::make_shared<ThreadSafeClassifier>(std::make_unique<testing::FakeClassifier>(nullptr), 0);
    }
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) override { return create(key); }
    std::uint64_t size(const std::string&) override { return 0; }
    void save(const std::string&, std::string_view) override {}
    void remove(const std::string&) override {}
};

TEST(ClassifierTransactionImplDeathTest, OpeningTwiceIsABrokenInvariant) {
    io::filesystem::test::TempFolder folder;
    CreatingRepository repository;
    ClassifierTransactionImpl write(&repository, "spam.dat");
    write.create();
    EXPECT_DEATH(
        {
            if (::chdir(folder.path("").c_str()) != 0) std::_Exit(3);
            write.create();
        },
        "");
    const std::string report = io::filesystem::test::TempFolder::read(folder.path("assertion.txt"));
    EXPECT_NE(std::string::npos, report.find("!_classifierInfo.copy")) << report;
}

}  // namespace
}  // namespace norvale::quillmark
