#include <string>

#include <gtest/gtest.h>

#include "classifier/ClassifierFactoryImpl.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/PostgresTestSupport.h"
#include "server/StoreJobDistribution.h"

namespace norvale::quillmark {
namespace {

const classifier::ClassifierFactoryImpl Classifiers{nullptr};

class Plenty : public platform::memory::MemoryStatus {
public:
    std::uint64_t available() const override { return std::uint64_t(1) << 40; }
    std::uint64_t total() const override { return std::uint64_t(1) << 40; }
};

// One server's repository on the shared database.
struct Server {
    explicit Server(const std::string& connection) : store(connection) {}

    std::uint64_t size() { return repository.size(Key); }
    template <typename Calls>
    void write(Calls calls) {
        ClassifierTransactionImpl transaction(&repository, Key);
        calls(transaction);
        transaction.commit();
    }

    static constexpr const char* Key = "/root/News.dat";
    Plenty memory;
    Metrics metrics;
    PostgresClassifierStore store;
    StoreJobDistribution repository{&Classifiers, &memory, &store, "/root/", &metrics};
};

class StoreJobDistributionSizeTest : public testing::PostgresTest {};

// The size that a train's maxSize is checked against, on a server that has the classifier in
// memory from before another server's write.
TEST_F(StoreJobDistributionSizeTest, IsTheStoresAfterAnotherServersWrite) {
    Server a(_connection), b(_connection);
    a.write([](auto& t) {
        t.create();
        t.addClass("sport");
    });
    const std::uint64_t small = b.size();
    a.write([](auto& t) { t.train("sport", "ball goal referee keeper stadium whistle"); });
    const std::uint64_t grown = a.size();
    EXPECT_GT(grown, small);
    EXPECT_EQ(b.size(), grown);
    // Under its own write sequence, as stored before its changes.
    b.write([&](auto& t) {
        t.train("sport", "corner");
        EXPECT_EQ(b.size(), grown);
    });
}

}  // namespace
}  // namespace norvale::quillmark
