#pragma once

// The classifier store in a PostgreSQL database, shared by every server connected to it.
//
// Tables (created at construction when missing, under an advisory lock, so servers starting at
// once do not race): quillmark_schema (one row, the layout version), quillmark_snapshots (key,
// version, snapshot_version, snapshot) and quillmark_journal (key, sequence, version, record).
// Versions come from the sequence quillmark_versions; each write transaction draws one as it
// starts, so the versions of one key grow in commit order and may have gaps. A write transaction
// holds pg_advisory_lock on a 64-bit hash of its key for its life (a session lock, so that it
// may commit several times under it); each commit is one SQL transaction, so a process killed in
// the middle leaves nothing half-written and its lock ends with its connection. Each commit that
// changes something sends NOTIFY on the channel quillmark_classifiers with the payload
// "<version> <key>". Starting a transaction and committing its records take a round trip each:
// the statements go out as a pipeline.
//
// Every wait for the database has a deadline: one that neither answers nor takes a byte for
// patience is given up, its connection closed, and the call throws. A commit whose connection
// fails before its answer came asks the database on a new connection whether its SQL
// transaction (whose id it read when the transaction began) committed; when that cannot be
// learnt either, the exception says the commit may have been applied.
//
// Every operation may be called from any thread at once. A call or a transaction borrows a
// connection from a pool (opened on demand; at most maxIdleConnections are kept), so
// transactions on different keys run side by side. listen opens a connection of its own.
// Transactions must end before the store is destroyed; Changes objects may outlive it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/ClassifierStore.h"

struct pg_conn;

namespace norvale::quillmark {

class PostgresClassifierStore : public ClassifierStore {
public:
    static constexpr std::size_t DefaultMaxIdleConnections = 4;
    // How long connecting may take when the connection string sets no connect_timeout.
    static constexpr int ConnectTimeoutSeconds = 10;
    // How long a writer waits for a classifier's lock that another server holds (a server that
    // stopped without ending, say) before its request fails.
    static constexpr std::chrono::milliseconds DefaultLockTimeout{30'000};
    // How long any wait for the database may last: a database that neither answers nor takes a
    // byte for that long is given up, its connection closed, and the call throws. Longer than the
    // lock timeout, so that a writer waiting for a lock gives up on the lock first.
    static constexpr std::chrono::milliseconds DefaultPatience{60'000};
    static constexpr int SchemaVersion = 1;
    static constexpr const char* Channel = "quillmark_classifiers";

    struct ConnectionCloser {
        void operator()(pg_conn* connection) const noexcept;
    };
    using Connection = std::unique_ptr<pg_conn, ConnectionCloser>;

    // Connects with a libpq connection string (key=value pairs or a URI; passwords may also come
    // from PGPASSWORD or PGPASSFILE) and creates the tables when missing. Throws
    // ClassifierStoreException naming the connection string without its password when the
    // database cannot be reached, or when its tables have another layout version.
    // A server keeps one idle connection for each request it runs at once (maxIdleConnections),
    // so that a busy server never opens a connection per request. Unless the connection string
    // says otherwise, a connection waits at most lockTimeout for a lock and notices a database
    // that stopped answering within about a minute (TCP keepalives and tcp_user_timeout), and any
    // wait for an answer gives up after patience.
    explicit PostgresClassifierStore(std::string connectionString,
                                     std::size_t maxIdleConnections = DefaultMaxIdleConnections,
                                     std::chrono::milliseconds lockTimeout = DefaultLockTimeout,
                                     std::chrono::milliseconds patience = DefaultPatience);
    PostgresClassifierStore(const PostgresClassifierStore&) = delete;
    PostgresClassifierStore& operator=(const PostgresClassifierStore&) = delete;
    ~PostgresClassifierStore() override;

    std::uint64_t version(const std::string& key) override;
    std::uint64_t size(const std::string& key) override;
    std::optional<Stored> load(const std::string& key, std::uint64_t since = 0) override;
    std::unique_ptr<Transaction> write(const std::string& key) override;
    std::unique_ptr<Changes> listen() override;

    // Whether the SQL transaction with this id (pg_current_xact_id) committed, asked on new
    // connections for at most the shorter of patience and the connect timeout; empty when that
    // cannot be learnt.
    std::optional<bool> committed(std::uint64_t transactionId);

    // The connection string with its password left out, for messages.
    static std::string describe(const std::string& connectionString);
    // The advisory lock number of a key (64-bit FNV-1a of its bytes).
    static std::int64_t lockNumber(std::string_view key);

    // A pooled connection, handed back to the pool when it is idle and healthy, else closed.
    class Lease {
    public:
        Lease(PostgresClassifierStore& store, Connection connection);
        Lease(Lease&&) noexcept = default;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();
        pg_conn* get() const { return _connection.get(); }
        PostgresClassifierStore& store() const { return _store; }
        std::chrono::milliseconds patience() const { return _store._patience; }
        // Closes the connection instead of handing it back.
        void discard() noexcept;

    private:
        PostgresClassifierStore& _store;
        Connection _connection;
    };

private:
    Connection connect() const;
    Lease borrow();
    void giveBack(Connection connection) noexcept;
    void createTables();

    const std::string _connectionString;
    const std::size_t _maxIdleConnections;
    const std::chrono::milliseconds _lockTimeout;
    const std::chrono::milliseconds _patience;
    std::mutex _mutex;  // guards _idle
    std::vector<Connection> _idle;
};

}  // namespace norvale::quillmark
