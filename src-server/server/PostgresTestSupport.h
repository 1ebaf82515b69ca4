#pragma once

// Databases of their own in the cluster of the ctest fixture "postgres"
// (scripts/postgres-cluster.sh), so that tests running at once never meet at a lock, and the
// libpq helpers the tests look into them with.

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "server/PostgresClassifierStore.h"

namespace norvale::quillmark::testing {

struct ResultClearer {
    void operator()(PGresult* result) const noexcept { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

inline PostgresClassifierStore::Connection connect(const std::string& connectionString) {
    PostgresClassifierStore::Connection connection(PQconnectdb(connectionString.c_str()));
    EXPECT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    return connection;
}

// The first value of a query's first row, as text.
inline std::string query(PGconn* connection, const std::string& sql,
                         ExecStatusType expected = PGRES_TUPLES_OK) {
    const Result result(PQexec(connection, sql.c_str()));
    EXPECT_EQ(PQresultStatus(result.get()), expected) << PQerrorMessage(connection);
    return PQntuples(result.get()) == 0 ? "" : PQgetvalue(result.get(), 0, 0);
}

// Creates `key` holding `snapshot` and commits; the version committed.
inline std::uint64_t commitNew(ClassifierStore& store, const std::string& key,
                               const std::string& snapshot) {
    auto transaction = store.write(key);
    EXPECT_TRUE(transaction->create(snapshot)) << key << " exists";
    return transaction->commit();
}

// A database of its own in the fixture's cluster, dropped with everything in it at the end; its
// connection string (and the cluster's, which the fixture leaves in a file) is empty outside
// ctest.
class TestDatabase {
public:
    TestDatabase() {
        if (const char* file = std::getenv("QM_POSTGRES_CONNECTION_FILE")) {
            std::getline(std::ifstream(file), _cluster);
        }
        if (_cluster.empty()) return;
        static int made = 0;
        _admin = connect(_cluster);
        _name = "qm_test_" + std::to_string(::getpid()) + "_" + std::to_string(made++);
        query(_admin.get(), "CREATE DATABASE " + _name, PGRES_COMMAND_OK);
        _connection = _cluster + " dbname=" + _name;
    }
    ~TestDatabase() {
        if (!_admin) return;
        query(_admin.get(), "DROP DATABASE " + _name + " WITH (FORCE)", PGRES_COMMAND_OK);
    }

    const std::string& cluster() const { return _cluster; }
    const std::string& connection() const { return _connection; }

private:
    std::string _cluster;
    PostgresClassifierStore::Connection _admin;
    std::string _name;
    std::string _connection;
};

class PostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(_connection.empty()) << "No cluster: run through ctest (fixture 'postgres').";
    }

    TestDatabase _database;
    const std::string _cluster = _database.cluster();
    const std::string _connection = _database.connection();
};

}  // namespace norvale::quillmark::testing
