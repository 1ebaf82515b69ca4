#pragma once

// A database of its own for each test process in the cluster of the ctest fixture "postgres"
// (scripts/postgres-cluster.sh), so that tests running at once never meet at a lock, and the
// libpq helpers the tests look into it with.

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

// The connection string of the fixture's cluster; empty outside ctest.
inline std::string clusterConnection() {
    std::string cluster;
    if (const char* file = std::getenv("QM_POSTGRES_CONNECTION_FILE")) {
        std::ifstream in(file);
        std::getline(in, cluster);
    }
    return cluster;
}

class PostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        _cluster = clusterConnection();
        ASSERT_FALSE(_cluster.empty()) << "No cluster: run through ctest (fixture 'postgres').";
        _admin = connect(_cluster);
        // ctest runs each test case in a process of its own.
        _database = "qm_test_" + std::to_string(::getpid());
        query(_admin.get(), "CREATE DATABASE " + _database, PGRES_COMMAND_OK);
        _connection = _cluster + " dbname=" + _database;
    }

    void TearDown() override {
        if (_admin)
            query(_admin.get(), "DROP DATABASE " + _database + " WITH (FORCE)", PGRES_COMMAND_OK);
    }

    std::string _cluster;
    PostgresClassifierStore::Connection _admin;
    std::string _database;
    std::string _connection;
};

}  // namespace norvale::quillmark::testing
