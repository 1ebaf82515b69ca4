#include "server/StoreJobDistribution.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "classifier/ClassifierFactoryImpl.h"
#include "io/filesystem/TempFolder.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/PostgresTestSupport.h"
#include "server/RepositoryTestSupport.h"
#include "server/StoreFollower.h"
#include "testing/Eventually.h"
#include "testing/InProcessServer.h"
#include "testing/LoopbackClient.h"
#include "testing/RecordingLog.h"
#include "testing/Requests.h"

namespace norvale::quillmark {
namespace {

using namespace std::chrono_literals;

const classifier::ClassifierFactoryImpl RealClassifiers{nullptr};

// A classifier's blob and classes.
using Content = std::pair<std::string, std::vector<classifier::ClassInformation>>;

// One server's repository on the shared database, through `through` when it is given.
struct Server {
    explicit Server(const std::string& connection, ClassifierStore* through = nullptr)
        : store(connection),
          repository{&RealClassifiers, &memory, through ? through : &store, "/root/", &metrics} {}

    std::string key(const std::string& name) const { return "/root/" + name + ".dat"; }
    // One write request; a journal shorter than floor is never folded into a snapshot.
    void write(const std::string& name,
               const std::function<void(ClassifierTransactionImpl&)>& calls,
               std::uint64_t floor = ClassifierTransactionImpl::DefaultJournalFloor) {
        ClassifierTransactionImpl transaction(&repository, key(name), floor);
        calls(transaction);
        transaction.commit();
    }
    // Creates `name` with `classes`.
    void create(const std::string& name, const std::vector<std::string>& classes) {
        write(name, [&](auto& t) {
            t.create();
            for (const std::string& c : classes) t.addClass(c);
        });
    }
    // A read request: the classifier's blob and classes.
    Content read(const std::string& name) {
        const auto shared = repository.get(key(name));
        platform::mutex::ReaderAutoLock lock(shared->reader());
        return {shared->classifier().getTrainingData(), shared->classifier().getInformation()};
    }

    testing::MemoryAccount memory{std::uint64_t(1) << 40, 0};  // nothing is evicted
    Metrics metrics;
    PostgresClassifierStore store;
    StoreJobDistribution repository;
};

// What a classifier holds after the calls, made in one process.
Content expected(const std::function<void(classifier::Classifier&)>& calls) {
    const auto classifier = RealClassifiers.create();
    calls(*classifier);
    classifier->compact();
    return {classifier->getTrainingData(), classifier->getInformation()};
}

using StoreJobDistributionTest = testing::PostgresTest;

// The size a train's maxSize is checked against: after another server's write, the stored one;
// under the request's own write sequence, as stored before its changes.
TEST_F(StoreJobDistributionTest, SizeIsTheStoresAfterAnotherServersWrite) {
    Server a(_connection), b(_connection);
    const auto size = [](Server& server) { return server.repository.size(server.key("Sized")); };
    a.create("Sized", {"sport"});
    const std::uint64_t small = size(b);
    a.write("Sized", [](auto& t) { t.train("sport", "ball goal referee keeper stadium whistle"); });
    const std::uint64_t grown = size(a);
    EXPECT_GT(grown, small);
    EXPECT_EQ(size(b), grown);
    b.write("Sized", [&](auto& t) {
        t.train("sport", "corner");
        EXPECT_EQ(size(b), grown);
    });
}

TEST_F(StoreJobDistributionTest, AWriteOnOneServerIsSeenByTheNextReadOnTheOther) {
    // Records replayed by the other server, or a new snapshot at every commit.
    for (const std::uint64_t floor :
         {ClassifierTransactionImpl::DefaultJournalFloor, std::uint64_t{0}}) {
        SCOPED_TRACE(floor);
        Server a(_connection), b(_connection);
        const std::string name = "News" + std::to_string(floor);
        const std::tuple<Server*, const char*, const char*> trainings[] = {
            {&a, "sport", "ball goal referee"},
            {&b, "art", "paint brush canvas"},
            {&a, "sport", "goal keeper"}};
        a.create(name, {"sport", "art"});
        for (const auto& [server, className, text] : trainings)
            server->write(
                name, [&](auto& t) { t.train(className, text); }, floor);
        const auto trained = expected([&](classifier::Classifier& c) {
            c.addClass("sport");
            c.addClass("art");
            for (const auto& [server, className, text] : trainings) c.train(className, text);
        });
        EXPECT_EQ(b.read(name), trained);
        EXPECT_EQ(a.read(name), trained);

        // A class change on the other server, and a cached classifier removed elsewhere.
        b.write(
            name, [](auto& t) { t.removeClass("art"); }, floor);
        EXPECT_EQ(a.read(name).second,
                  (std::vector<classifier::ClassInformation>{trained.second.front()}));
        b.write(name, [](auto& t) { t.remove(); });
        EXPECT_THROW(a.read(name), ClassifierNotFoundException);
        EXPECT_EQ(a.repository.size(a.key(name)), 0u);
        b.create(name, {"new"});
        EXPECT_THROW(a.write(name, [](auto& t) { t.create(); }), ClassifierExistsException);
        EXPECT_EQ(a.read(name).second.front().name(), "new");
    }
    // A classifier created by a sequence that has not committed is nobody else's.
    Server a(_connection);
    ClassifierTransactionImpl creating(&a.repository, a.key("Pending"));
    creating.create();
    EXPECT_THROW(a.read("pending"), ClassifierNotFoundException);
    EXPECT_THROW(a.write("pending", [](auto& t) { t.addClass("b"); }), ClassifierNotFoundException);
}

TEST_F(StoreJobDistributionTest, WritersOnTwoServersLoseNoUpdateAndCreateSucceedsOnce) {
    Server a(_connection), b(_connection);
    a.create("shared", {"even", "odd"});
    constexpr int Clients = 16, Requests = 10;
    // Client n trains its requests into one class, on server a or b.
    const auto train = [](auto& into, int client, int i) {
        into.train(client % 2 == 0 ? "even" : "odd",
                   "word" + std::to_string(client) + " common" + std::to_string(i));
    };
    std::vector<std::thread> clients;
    std::atomic<int> failures{0};
    for (int client = 0; client < Clients; ++client) {
        clients.emplace_back([&, client] {
            for (int i = 0; i < Requests; ++i) {
                try {
                    (client % 2 == 0 ? a : b).write("shared", [&](auto& t) {
                        train(t, client, i);
                    });
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(failures, 0);
    const auto trained = expected([&](classifier::Classifier& c) {
        c.addClass("even");
        c.addClass("odd");
        for (int client = 0; client < Clients; ++client) {
            for (int i = 0; i < Requests; ++i) train(c, client, i);
        }
    });
    const auto seenByA = a.read("shared");
    EXPECT_EQ(seenByA.second, trained.second);
    EXPECT_EQ(b.read("shared"), seenByA);

    for (int round = 0; round < 20; ++round) {
        const std::string name = "race" + std::to_string(round);
        std::atomic<int> created{0}, refused{0};
        const auto create = [&](Server& server) {
            try {
                server.write(name, [](auto& t) { t.create(); });
                ++created;
            } catch (const ClassifierExistsException&) {
                ++refused;
            }
        };
        std::thread first(create, std::ref(a)), second(create, std::ref(b));
        first.join();
        second.join();
        EXPECT_EQ(created, 1);
        EXPECT_EQ(refused, 1);
        EXPECT_NO_THROW(a.read(name));
        EXPECT_NO_THROW(b.read(name));
    }
}

// A store whose first version answer after hold() waits until let go, as a slow answer would:
// the version is read first, then handed out.
class SlowVersions : public PostgresClassifierStore {
public:
    using PostgresClassifierStore::PostgresClassifierStore;

    std::uint64_t version(const std::string& key) override {
        const std::uint64_t version = PostgresClassifierStore::version(key);
        if (_holding.exchange(false)) {
            _held.set_value();
            _released.wait();
        }
        return version;
    }

    void hold() { _holding = true; }
    bool awaitHeld() { return _held.get_future().wait_for(30s) == std::future_status::ready; }
    void letGo() {
        if (!_let) _release.set_value();
        _let = true;
    }

private:
    std::atomic<bool> _holding{false};
    std::promise<void> _held, _release;
    std::shared_future<void> _released = _release.get_future().share();
    bool _let = false;  // on the test's thread only
};

// Reads that arrive together share version queries, but never one that started before them.
TEST_F(StoreJobDistributionTest, AReadUsesOnlyAVersionQueryThatStartedAfterItArrived) {
    Server writer(_connection);
    SlowVersions slow(_connection);
    Server reader(_connection, &slow);
    const auto read = [&] { return reader.read("news").first; };
    writer.create("news", {"sport"});
    const std::string before = read();

    std::future<std::string> first, second;
    // Lets go before the reads are waited for, also when a check throws.
    const std::unique_ptr<SlowVersions, void (*)(SlowVersions*)> letGo(
        &slow, [](SlowVersions* held) { held->letGo(); });
    slow.hold();
    first = std::async(std::launch::async, read);  // its query reads the version, then waits
    EXPECT_TRUE(slow.awaitHeld());
    writer.write("news", [](auto& t) { t.train("sport", "acknowledged before the second read"); });
    second = std::async(std::launch::async, read);
    std::this_thread::sleep_for(200ms);  // it waits for the first query
    slow.letGo();
    const std::string after = writer.read("news").first;
    EXPECT_NE(before, after);
    EXPECT_EQ(second.get(), after);
    // The first read arrived before the write was acknowledged, so either state is right for it:
    // its query answers the old version, but the second read may bring the shared classifier up
    // to date in place before the first takes its reader lock.
    const std::string firstSaw = first.get();
    EXPECT_TRUE(firstSaw == before || firstSaw == after);
}

// Commits of another server reach a cached classifier without a read asking for them.
TEST_F(StoreJobDistributionTest, AFollowerCatchesCachedClassifiersUp) {
    Server a(_connection), b(_connection);
    a.create("news", {"sport"});
    const auto cached = b.repository.get(b.key("news"));
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads(&os);
    StoreFollower follower(&b.store, &b.repository, &threads);
    follower.start();
    for (int n = 0; n < 3; ++n) {
        a.write("news", [&](auto& t) { t.train("sport", "goal number " + std::to_string(n)); });
        const std::uint64_t committed = a.repository.get(a.key("news"))->storeVersion();
        testing::eventually([&] { return cached->storeVersion() == committed; }, 10s, 5ms);
        EXPECT_EQ(cached->storeVersion(), committed) << n;
    }
    follower.stop();
    EXPECT_EQ(b.read("news"), a.read("news"));
}

// The database refuses connections and ends those it has while clients train and classify:
// every request gets an answer, acknowledged or an error document, and once the database is
// back every request succeeds again and the counts hold every acknowledged training.
TEST_F(StoreJobDistributionTest, ADatabaseOutageFailsRequestsWithErrorDocumentsUntilItIsBack) {
    using namespace testing;
    ::io::filesystem::test::TempFolder folder;
    RecordingLog log;
    InProcessOptions options;
    options.postgresConnection = _connection;
    InProcessServer server(folder.path("classifiers"), folder.path("locks"), &log, options);
    const auto ask = [&](const std::string& request) {
        return LoopbackClient::ask(server.port(), request);
    };
    ASSERT_EQ(statusOf(ask(createRequest("news", {"a"}))), 2000);
    ASSERT_EQ(statusOf(ask(trainRequest("news", "a", {distinctText(0)}))), 2000);
    const long perText = totalCountOf(ask(informationRequest("news")), "a");

    std::atomic<bool> done{false};
    std::atomic<long> acknowledged{1}, failedTrains{0}, failures{0}, others{0};
    std::vector<std::thread> clients;
    for (unsigned c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (unsigned n = 1; !done; ++n) {
                const bool train = c % 2 == 0;
                const int status =
                    statusOf(ask(train ? trainRequest("news", "a", {distinctText(c * 100000 + n)})
                                       : classifyRequest("news", distinctText(n))));
                if (status == 2000) {
                    acknowledged += train;
                } else if (status == 5000) {
                    ++failures;
                    failedTrains += train;
                } else {
                    ++others;
                }
            }
        });
    }
    const auto admin = connect(_cluster);
    const std::string database = _connection.substr(_connection.rfind("dbname=") + 7);
    std::this_thread::sleep_for(200ms);
    const auto allow = [&](bool allowed) {
        query(admin.get(),
              "ALTER DATABASE " + database + " ALLOW_CONNECTIONS " + (allowed ? "true" : "false"),
              PGRES_COMMAND_OK);
    };
    const auto endConnections = [&] {
        query(admin.get(),
              "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
              "WHERE datname = '" +
                  database + "'");
    };
    allow(false);
    endConnections();
    eventually([&] { return failures >= 8; });
    allow(true);
    std::this_thread::sleep_for(200ms);
    done = true;
    for (auto& client : clients) client.join();
    EXPECT_GE(failures, 8);
    EXPECT_EQ(others, 0);

    // Back: the first requests already succeed. Connections the database ends while they are
    // idle are dropped, not tried.
    for (int n = 0; n < 20; ++n) {
        if (n == 10) {
            endConnections();
            std::this_thread::sleep_for(100ms);
        }
        ASSERT_EQ(statusOf(ask(trainRequest("news", "a", {distinctText(900000 + n)}))), 2000) << n;
    }
    const long total = totalCountOf(ask(informationRequest("news")), "a") / perText - 20;
    EXPECT_GE(total, acknowledged);
    EXPECT_LE(total, acknowledged + failedTrains);
}

}  // namespace
}  // namespace norvale::quillmark
