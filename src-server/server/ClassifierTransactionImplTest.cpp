#include "server/ClassifierTransactionImpl.h"

#include <gtest/gtest.h>

#include "server/RepositoryTestSupport.h"

namespace norvale::quillmark {
namespace {

using testing::fake;
using testing::fakeData;
using State = ClassifierTransactionImpl::TransactionState;

class ClassifierTransactionImplTest : public testing::RepositoryTest<> {
protected:
    std::unique_ptr<ClassifierTransactionImpl> transaction(const std::string& name) {
        return std::make_unique<ClassifierTransactionImpl>(repository.get(), key(name));
    }
};

TEST_F(ClassifierTransactionImplTest, ClassChangesMoveTheCallsToACopyThatCommitJournalsAndSwapsIn) {
    store("spam", fakeData({{"ham", 1}}));
    auto write = transaction("Spam");
    write->train("ham", "x");
    EXPECT_EQ(State::Opened, write->state());
    write->addClass("eggs");
    // One thread only, so the shared classifier may be looked at under our writer lock.
    const auto shared = repository->get(key("spam"));
    EXPECT_EQ(-1, fake(shared->classifier()).count("eggs"));
    write->commit();
    EXPECT_EQ(State::Committed, write->state());
    EXPECT_EQ(2, fake(shared->classifier()).count("ham"));
    EXPECT_EQ((std::vector<std::string>{"ham"}), memory.destroyed());  // the old state
    // The file stays as it was; its journal brings a restarted repository to the same state.
    EXPECT_EQ(fakeData({{"ham", 1}}), content("spam"));
    restart();
    EXPECT_EQ(fakeData({{"eggs", 0}, {"ham", 2}}),
              repository->get(key("spam"))->classifier().getTrainingData());
}

TEST_F(ClassifierTransactionImplTest, RollbackUndoesOnlyWhatTheTransactionDid) {
    {
        auto write = transaction("Spam");
        write->create();
        EXPECT_THROW(write->train("ham", "x"), std::out_of_range);
    }
    EXPECT_EQ(0u, repository->count());
    EXPECT_TRUE(std::filesystem::is_empty(root));

    store("spam", fakeData({{"ham", 4}}));
    {
        auto write = transaction("SPAM");
        EXPECT_THROW(write->create(), ClassifierExistsException);
        EXPECT_EQ(State::None, write->state());
    }
    transaction("spam")->train("ham", "x");
    EXPECT_EQ(fakeData({{"ham", 4}}), content("spam"));
    // The writer lock went with the transactions, or this read would wait for ever.
    EXPECT_EQ(4, read("spam", "ham"));
}

}  // namespace
}  // namespace norvale::quillmark
