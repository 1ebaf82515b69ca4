#include "server/PostgresClassifierStore.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <thread>
#include <type_traits>
#include <utility>

namespace norvale::quillmark {

namespace {

// Type numbers of the parameters, fixed in PostgreSQL's catalog.
constexpr Oid ByteaOid = 17;
constexpr Oid Int8Oid = 20;
constexpr Oid TextOid = 25;

// The lock number under which the tables are created; any number no key hash is likely to hit.
constexpr std::int64_t SchemaLock = 0x51756c6c6d61726b;

struct ResultClearer {
    void operator()(PGresult* result) const noexcept { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

struct NotifyFreer {
    void operator()(PGnotify* notify) const noexcept { PQfreemem(notify); }
};
using Notify = std::unique_ptr<PGnotify, NotifyFreer>;

// The message of libpq, its lines joined: it ends up in one log line.
std::string oneLine(const char* message) {
    std::string text;
    for (const char* c = message == nullptr ? "" : message; *c != '\0'; ++c) {
        const bool space = *c == '\n' || *c == '\t' || *c == ' ';
        if (!space) {
            text += *c;
        } else if (!text.empty() && text.back() != ' ') {
            text += ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Parameters sent in binary format: text and bytea as their bytes, int8 as 8 bytes big-endian.
class Params {
public:
    Params() = default;
    // Its values point into its own numbers.
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;

    Params& text(std::string_view value) { return add(TextOid, value); }
    Params& bytea(std::string_view value) { return add(ByteaOid, value); }
    Params& int8(std::uint64_t value) {
        std::array<char, 8>& bytes = _numbers.emplace_back();
        for (int i = 7; i >= 0; --i, value >>= 8)
            bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
        return add(Int8Oid, std::string_view(bytes.data(), bytes.size()));
    }

    int count() const { return static_cast<int>(_values.size()); }
    const Oid* types() const { return _types.data(); }
    const char* const* values() const { return _values.data(); }
    const int* lengths() const { return _lengths.data(); }
    const int* formats() const { return _formats.data(); }

private:
    Params& add(Oid type, std::string_view value) {
        _types.push_back(type);
        // A null pointer would send SQL NULL; an empty value needs a pointer all the same.
        _values.push_back(value.empty() ? "" : value.data());
        _lengths.push_back(static_cast<int>(value.size()));
        _formats.push_back(1);
        return *this;
    }

    std::deque<std::array<char, 8>> _numbers;  // stable addresses for _values
    std::vector<Oid> _types;
    std::vector<const char*> _values;
    std::vector<int> _lengths;
    std::vector<int> _formats;
};

[[noreturn]] void failed(PGconn* connection, const PGresult* result, const std::string& doing) {
    const char* message = result ? PQresultErrorMessage(result) : "";
    if (message == nullptr || *message == '\0') message = PQerrorMessage(connection);
    throw ClassifierStoreException("PostgreSQL: " + doing + " failed: " + oneLine(message));
}

// A connection (in nonblocking mode) and how long a wait on it may last: a database that neither
// sends nor takes a byte for that long is given up.
struct Link {
    PGconn* connection;
    std::chrono::milliseconds patience;
};

std::string duration(std::chrono::milliseconds time) {
    return time.count() % 1000 == 0 ? std::to_string(time.count() / 1000) + " s"
                                    : std::to_string(time.count()) + " ms";
}

// Waits until the database has sent something (or, when writing, taken something). A database
// silent for the whole patience has its connection shut down at once, so that whatever it does
// later reaches nobody; libpq sees the connection busy, and the lease closes it.
void await(Link link, bool writing, const std::string& doing) {
    pollfd socket{PQsocket(link.connection),
                  static_cast<short>(writing ? POLLIN | POLLOUT : POLLIN), 0};
    if (socket.fd < 0) failed(link.connection, nullptr, doing);
    int ready = 0;
    do {
        ready = ::poll(&socket, 1, static_cast<int>(link.patience.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) failed(link.connection, nullptr, doing);
    if (ready == 0) {
        ::shutdown(socket.fd, SHUT_RDWR);
        throw ClassifierStoreException("PostgreSQL: " + doing +
                                       " failed: the database did not answer for " +
                                       duration(link.patience) + "; its connection was closed.");
    }
}

// Sends what libpq holds, taking in the database's answers meanwhile (it may stop reading until
// they are read).
void flush(Link link, const std::string& doing) {
    for (;;) {
        const int left = PQflush(link.connection);
        if (left == 0) return;
        if (left < 0) failed(link.connection, nullptr, doing);
        await(link, true, doing);
        if (PQconsumeInput(link.connection) != 1) failed(link.connection, nullptr, doing);
    }
}

// The next result, null after the last one of a statement; a lost connection gives an error result.
Result next(Link link, const std::string& doing) {
    flush(link, doing);
    while (PQisBusy(link.connection) == 1) {
        await(link, false, doing);
        // Lost: PQgetResult says so without waiting.
        if (PQconsumeInput(link.connection) != 1) break;
    }
    return Result(PQgetResult(link.connection));
}

// The results of what was sent, read to their end: the first failed one, else the last one.
Result finish(Link link, const std::string& doing) {
    Result kept;
    while (Result result = next(link, doing)) {
        const ExecStatusType status = kept ? PQresultStatus(kept.get()) : PGRES_EMPTY_QUERY;
        if (status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE) kept = std::move(result);
        if (PQstatus(link.connection) == CONNECTION_BAD) break;
    }
    return kept;
}

// Runs one statement with binary parameters and results; throws ClassifierStoreException saying
// what was being done unless the result has the expected status.
Result run(Link link, const char* sql, const Params& params, const std::string& doing,
           ExecStatusType expected = PGRES_TUPLES_OK) {
    if (PQsendQueryParams(link.connection, sql, params.count(), params.types(), params.values(),
                          params.lengths(), params.formats(), 1) != 1) {
        failed(link.connection, nullptr, doing);
    }
    Result result = finish(link, doing);
    if (!result || PQresultStatus(result.get()) != expected) {
        failed(link.connection, result.get(), doing);
    }
    return result;
}

// Runs statements without parameters (several at once, separated by ';'); the last one's result
// must have the expected status.
Result command(Link link, const char* sql, const std::string& doing,
               ExecStatusType expected = PGRES_COMMAND_OK) {
    if (PQsendQuery(link.connection, sql) != 1) failed(link.connection, nullptr, doing);
    Result result = finish(link, doing);
    if (!result || PQresultStatus(result.get()) != expected) {
        failed(link.connection, result.get(), doing);
    }
    return result;
}

// Statements sent together and answered in one round trip; the server runs them in order. A sync
// ends a segment: the server answers the segment before it runs the next one, and after a failed
// statement skips only the rest of its segment. A pipeline that is not read to its end leaves its
// connection in pipeline mode, and the lease then closes the connection.
class Pipeline {
public:
    Pipeline(Link link, std::string doing) : _link(link), _doing(std::move(doing)) {
        if (PQenterPipelineMode(_link.connection) != 1) failed(_link.connection, nullptr, _doing);
    }

    Pipeline& send(const char* sql, const Params& params,
                   ExecStatusType expected = PGRES_TUPLES_OK) {
        if (PQsendQueryParams(_link.connection, sql, params.count(), params.types(),
                              params.values(), params.lengths(), params.formats(), 1) != 1) {
            failed(_link.connection, nullptr, _doing);
        }
        _expected.push_back(expected);
        return *this;
    }

    Pipeline& sync() {
        if (PQpipelineSync(_link.connection) != 1) failed(_link.connection, nullptr, _doing);
        _syncs.push_back(_expected.size());
        return *this;
    }

    std::size_t size() const { return _expected.size(); }

    // The result of each statement in order; throws ClassifierStoreException for the first one
    // without its expected status.
    std::vector<Result> results() {
        read();
        check(_received.size());
        return std::move(_received);
    }

    // Reads every result into received() without looking at them; throws when the connection
    // fails, keeping the results that came before.
    void read() {
        if (_syncs.empty() || _syncs.back() != _expected.size()) sync();
        for (const std::size_t end : _syncs) {
            while (_received.size() < end) {
                Result result = next(_link, _doing);
                if (!result) failed(_link.connection, nullptr, _doing);
                _received.push_back(std::move(result));
                if (PQstatus(_link.connection) == CONNECTION_BAD) {
                    failed(_link.connection, _received.back().get(), _doing);
                }
                // The end of this statement's results.
                while (const Result more = next(_link, _doing)) {
                    if (PQstatus(_link.connection) == CONNECTION_BAD) {
                        failed(_link.connection, more.get(), _doing);
                    }
                }
            }
            const Result sync = next(_link, _doing);
            if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) {
                failed(_link.connection, sync.get(), _doing);
            }
        }
        if (PQexitPipelineMode(_link.connection) != 1) failed(_link.connection, nullptr, _doing);
    }

    const std::vector<Result>& received() const { return _received; }

    // Whether the received result at index has its expected status.
    bool matches(std::size_t index) const {
        return PQresultStatus(_received[index].get()) == _expected[index];
    }

    // Whether every result came, those from the one at from on with their expected status.
    bool succeeded(std::size_t from) const {
        if (_received.size() < _expected.size()) return false;
        for (std::size_t i = from; i < _received.size(); ++i) {
            if (PQresultStatus(_received[i].get()) != _expected[i]) return false;
        }
        return true;
    }

    // Throws for the first of the first count results without its expected status.
    void check(std::size_t count) const {
        for (std::size_t i = 0; i < count; ++i) {
            if (PQresultStatus(_received[i].get()) != _expected[i]) {
                failed(_link.connection, _received[i].get(), _doing);
            }
        }
    }

private:
    const Link _link;
    const std::string _doing;
    std::vector<ExecStatusType> _expected;
    std::vector<std::size_t> _syncs;  // the number of statements before each sync
    std::vector<Result> _received;
};

std::string bytes(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column),
                       static_cast<std::size_t>(PQgetlength(result, row, column)));
}

std::uint64_t int8(const PGresult* result, int row, int column) {
    const auto* value = reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column));
    std::uint64_t number = 0;
    for (int i = 0; i < 8; ++i) number = number << 8 | value[i];
    return number;
}

std::string forKey(const std::string& doing, const std::string& key) {
    return doing + " of classifier '" + key + "'";
}

std::uint64_t committedVersion(Link connection, const std::string& key) {
    const Result result = run(connection, "SELECT version FROM quillmark_snapshots WHERE key = $1",
                              Params().text(key), forKey("reading the version", key));
    return PQntuples(result.get()) == 0 ? 0 : int8(result.get(), 0, 0);
}

std::optional<ClassifierStore::Stored> loadOn(Link connection, const std::string& key,
                                              std::uint64_t since) {
    const std::string doing = forKey("loading", key);
    const Result head = run(connection,
                            "SELECT version, CASE WHEN snapshot_version > $2 THEN snapshot END "
                            "FROM quillmark_snapshots WHERE key = $1",
                            Params().text(key).int8(since), doing);
    if (PQntuples(head.get()) == 0) return std::nullopt;
    ClassifierStore::Stored stored;
    stored.version = int8(head.get(), 0, 0);
    if (!PQgetisnull(head.get(), 0, 1)) stored.snapshot = bytes(head.get(), 0, 1);
    // Records never predate their snapshot, so with the snapshot this is every record.
    const Result records = run(connection,
                               "SELECT record FROM quillmark_journal "
                               "WHERE key = $1 AND version > $2 ORDER BY sequence",
                               Params().text(key).int8(since), doing);
    const int count = PQntuples(records.get());
    stored.records.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) stored.records.push_back(bytes(records.get(), row, 0));
    return stored;
}

// Holds the key's lock for its whole life as a session lock, so that commitKeepingLock can
// commit and go on under it. Taking the lock (with the committed version read and the next
// commit's version drawn) and each commit of records take one round trip: the statements go out
// as a pipeline.
class PostgresTransaction : public ClassifierStore::Transaction {
public:
    PostgresTransaction(PostgresClassifierStore::Lease lease, std::string key)
        : _lease(std::move(lease)),
          _key(std::move(key)),
          _lock(static_cast<std::uint64_t>(PostgresClassifierStore::lockNumber(_key))) {
        try {
            Pipeline start(link(), forKey("taking the writer lock", _key));
            start.send("SELECT pg_advisory_lock($1)", Params().int8(_lock))
                .send("BEGIN", Params(), PGRES_COMMAND_OK)
                // Read once the lock is held, so no commit of another writer comes after it.
                .send(
                    "SELECT coalesce((SELECT version FROM quillmark_snapshots WHERE key = $1), "
                    "0), nextval('quillmark_versions'), pg_current_xact_id()::text::bigint",
                    Params().text(_key));
            const std::vector<Result> results = start.results();
            _version = int8(results[2].get(), 0, 0);
            _newVersion = int8(results[2].get(), 0, 1);
            _transactionId = int8(results[2].get(), 0, 2);
        } catch (...) {
            // The lock may be held: the connection must not go back to the pool.
            _lease.discard();
            throw;
        }
        _exists = _version != 0;
    }

    ~PostgresTransaction() override {
        if (_locked) release();
    }

    std::uint64_t version() const override { return _version; }

    std::optional<ClassifierStore::Stored> load(std::uint64_t since) override {
        return guarded([&] { return loadOn(link(), _key, since); });
    }

    bool create(std::string_view snapshot) override {
        if (_exists) return false;
        guarded([&] {
            run(link(),
                "INSERT INTO quillmark_snapshots (key, version, snapshot_version, snapshot) "
                "VALUES ($1, $2, $2, $3)",
                Params().text(_key).int8(_newVersion).bytea(snapshot), forKey("creating", _key),
                PGRES_COMMAND_OK);
        });
        _exists = true;
        _changed = true;
        return true;
    }

    void append(std::span<const std::string> records) override {
        mustExist("appending to");
        guarded([&] { _records.insert(_records.end(), records.begin(), records.end()); });
        _changed = true;
    }

    void checkpoint(std::string_view snapshot) override {
        mustExist("writing a snapshot of");
        guarded([&] {
            run(link(),
                "UPDATE quillmark_snapshots SET snapshot = $2, snapshot_version = $3 "
                "WHERE key = $1",
                Params().text(_key).bytea(snapshot).int8(_newVersion),
                forKey("writing the snapshot", _key), PGRES_COMMAND_OK);
            dropRecords();
        });
        _changed = true;
    }

    bool remove() override {
        if (!_exists) return false;
        guarded([&] {
            run(link(), "DELETE FROM quillmark_snapshots WHERE key = $1", Params().text(_key),
                forKey("removing", _key), PGRES_COMMAND_OK);
            dropRecords();
        });
        _exists = false;
        _changed = true;
        return true;
    }

    std::uint64_t commit() override {
        commit(false);
        return _version;
    }

    std::uint64_t commitKeepingLock() override {
        commit(true);
        return _version;
    }

private:
    PGconn* connection() const { return _lease.get(); }

    Link link() const { return {_lease.get(), _lease.patience()}; }

    // Sends the records, the version and the notification with COMMIT, then either the lock's
    // release or the next transaction's start with its version drawn. The COMMIT ends a segment
    // of the pipeline, so its answer comes before the statements after it run.
    void commit(bool keepLock) {
        if (!_locked || _failed) {
            throw ClassifierStoreException("PostgreSQL: the transaction on classifier '" + _key +
                                           "' cannot commit: it " +
                                           (_locked ? "failed earlier." : "has ended."));
        }
        std::size_t committed = 0;  // statements up to COMMIT
        std::optional<Pipeline> pipeline;
        guarded([&] {
            Pipeline& commit = pipeline.emplace(link(), forKey("committing", _key));
            for (const std::string& record : _records) {
                commit.send(
                    "INSERT INTO quillmark_journal (key, version, record) VALUES ($1, $2, $3)",
                    Params().text(_key).int8(_newVersion).bytea(record), PGRES_COMMAND_OK);
            }
            const std::uint64_t version = _exists ? _newVersion : 0;
            if (_changed && _exists) {
                commit.send("UPDATE quillmark_snapshots SET version = $2 WHERE key = $1",
                            Params().text(_key).int8(version), PGRES_COMMAND_OK);
            }
            if (_changed) {
                commit.send("SELECT pg_notify($1, $2)",
                            Params()
                                .text(PostgresClassifierStore::Channel)
                                .text(std::to_string(version) + " " + _key));
            }
            commit.send("COMMIT", Params(), PGRES_COMMAND_OK).sync();
            committed = commit.size();
            if (keepLock) {
                commit.send("BEGIN", Params(), PGRES_COMMAND_OK)
                    .send(
                        "SELECT nextval('quillmark_versions'), "
                        "pg_current_xact_id()::text::bigint",
                        Params());
            } else {
                commit.send("SELECT pg_advisory_unlock($1)", Params().int8(_lock));
            }
            bool complete = true;
            try {
                commit.read();
            } catch (const ClassifierStoreException& lost) {
                complete = false;
                if (!committedAfterAll(commit, committed, lost)) throw;
            }
            if (complete) {
                commit.check(committed);
                // A transaction that failed on the server answers COMMIT with a rollback.
                if (std::strcmp(PQcmdStatus(commit.received()[committed - 1].get()), "COMMIT") !=
                    0) {
                    throw ClassifierStoreException("PostgreSQL: the commit on classifier '" + _key +
                                                   "' was rolled back.");
                }
            }
            if (_changed) _version = version;
            _records.clear();
            _changed = false;
        });
        // Committed: what failed after it costs the transaction, not the commit.
        const bool rest = pipeline->succeeded(committed);
        if (keepLock && rest) {
            _newVersion = int8(pipeline->received().back().get(), 0, 0);
            _transactionId = int8(pipeline->received().back().get(), 0, 1);
        } else if (keepLock) {
            _failed = true;
        } else {
            _locked = false;
            if (!rest) _lease.discard();
        }
    }

    // Whether the commit took place although the connection failed during it (lost): its
    // answer tells when it came, and so does a statement before it that failed; else the
    // database is asked on a new connection whether this transaction committed. Throws
    // saying the commit may have been applied when nobody can tell.
    bool committedAfterAll(const Pipeline& commit, std::size_t committed,
                           const ClassifierStoreException& lost) {
        const std::vector<Result>& received = commit.received();
        const std::size_t answered = std::min(received.size(), committed);
        for (std::size_t i = 0; i + 1 < answered; ++i) {
            if (!commit.matches(i)) return false;
        }
        if (answered == committed) {
            PGresult* answer = received[committed - 1].get();
            if (PQresultStatus(answer) == PGRES_COMMAND_OK) {
                return std::strcmp(PQcmdStatus(answer), "COMMIT") == 0;
            }
            if (PQresultStatus(answer) == PGRES_PIPELINE_ABORTED) return false;
        }
        if (const std::optional<bool> known = _lease.store().committed(_transactionId)) {
            return *known;
        }
        throw ClassifierStoreException(std::string(lost.what()) +
                                       " The commit may have been applied: the connection was "
                                       "lost before its answer came.");
    }

    // Rolls back what is not committed and lets go of the lock; a connection where that fails,
    // or that is busy, is closed, which does the same on the server's side.
    void release() noexcept {
        _locked = false;
        bool clean = connection() != nullptr && PQpipelineStatus(connection()) == PQ_PIPELINE_OFF &&
                     PQtransactionStatus(connection()) != PQTRANS_ACTIVE;
        try {
            if (clean) {
                command(link(), "ROLLBACK; SELECT pg_advisory_unlock_all()",
                        forKey("letting go of the writer lock", _key), PGRES_TUPLES_OK);
            }
        } catch (...) {
            clean = false;
        }
        if (!clean) _lease.discard();
    }

    // Runs an operation; after a failure the SQL transaction is aborted, so commit refuses.
    template <typename Operation>
    std::invoke_result_t<Operation> guarded(Operation operation) {
        if (!_locked) {
            throw ClassifierStoreException("PostgreSQL: the transaction on classifier '" + _key +
                                           "' has ended.");
        }
        try {
            return operation();
        } catch (...) {
            _failed = true;
            throw;
        }
    }

    void mustExist(const char* doing) const {
        if (!_exists) {
            throw ClassifierStoreException(std::string("PostgreSQL: ") + doing + " classifier '" +
                                           _key + "', which does not exist.");
        }
    }

    // Records appended before are folded into the snapshot or gone with the classifier.
    void dropRecords() {
        run(link(), "DELETE FROM quillmark_journal WHERE key = $1", Params().text(_key),
            forKey("dropping the journal records", _key), PGRES_COMMAND_OK);
        _records.clear();
    }

    PostgresClassifierStore::Lease _lease;
    const std::string _key;
    const std::uint64_t _lock;
    std::uint64_t _version = 0;         // committed, as seen under the lock
    std::uint64_t _newVersion = 0;      // of the next commit
    std::uint64_t _transactionId = 0;   // of the SQL transaction, for a commit whose answer is lost
    std::vector<std::string> _records;  // appended, sent with the commit
    bool _exists = false;               // with this transaction's changes
    bool _changed = false;              // since the last commit
    bool _failed = false;
    bool _locked = true;
};

class PostgresChanges : public ClassifierStore::Changes {
public:
    PostgresChanges(PostgresClassifierStore::Connection connection,
                    std::chrono::milliseconds patience)
        : _connection(std::move(connection)) {
        command({_connection.get(), patience}, "LISTEN quillmark_classifiers",
                "listening for commits");
    }

    std::vector<ClassifierStore::Change> wait(std::chrono::milliseconds timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<ClassifierStore::Change> changes;
        for (;;) {
            receive(changes);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (!changes.empty() || left.count() <= 0) return changes;
            pollfd socket{PQsocket(_connection.get()), POLLIN, 0};
            if (socket.fd < 0) lost();
            const auto slice = std::min<std::chrono::milliseconds::rep>(left.count(), 60'000);
            if (::poll(&socket, 1, static_cast<int>(slice)) < 0 && errno != EINTR) lost();
        }
    }

private:
    [[noreturn]] void lost() const {
        throw ClassifierStoreException(
            "PostgreSQL: the connection listening for commits was lost: " +
            oneLine(PQerrorMessage(_connection.get())));
    }

    void receive(std::vector<ClassifierStore::Change>& changes) {
        if (PQconsumeInput(_connection.get()) == 0 ||
            PQstatus(_connection.get()) != CONNECTION_OK) {
            lost();
        }
        while (const Notify notify{PQnotifies(_connection.get())}) {
            if (std::strcmp(notify->relname, PostgresClassifierStore::Channel) != 0) continue;
            // Anyone may notify on the channel: what does not read as a commit is passed over.
            const std::string_view payload(notify->extra);
            std::uint64_t version = 0;
            const auto [end, error] =
                std::from_chars(payload.data(), payload.data() + payload.size(), version);
            if (error != std::errc() || end == payload.data() + payload.size() || *end != ' ') {
                continue;
            }
            changes.push_back({std::string(end + 1, payload.data() + payload.size()), version});
        }
    }

    PostgresClassifierStore::Connection _connection;
};

Link on(const PostgresClassifierStore::Lease& lease) {
    return {lease.get(), lease.patience()};
}

// The options of a connection's session: the lock timeout first, then the options the connection
// string sets, so that those (a lock_timeout of its own among them) win and the timeout stays
// when they set something else.
std::string sessionOptions(const std::string& connectionString,
                           std::chrono::milliseconds lockTimeout) {
    std::string options = "-c lock_timeout=" + std::to_string(lockTimeout.count());
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(connectionString.c_str(), &error);
    if (parsed == nullptr) {
        // The connection attempt reports what is wrong with the string.
        PQfreemem(error);
        return options;
    }
    for (const PQconninfoOption* option = parsed; option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "options") == 0 && option->val != nullptr &&
            *option->val != '\0') {
            options += ' ';
            options += option->val;
        }
    }
    PQconninfoFree(parsed);
    return options;
}

}  // namespace

void PostgresClassifierStore::ConnectionCloser::operator()(pg_conn* connection) const noexcept {
    PQfinish(connection);
}

PostgresClassifierStore::Lease::Lease(PostgresClassifierStore& store, Connection connection)
    : _store(store), _connection(std::move(connection)) {}

void PostgresClassifierStore::Lease::discard() noexcept {
    _connection.reset();
}

PostgresClassifierStore::Lease::~Lease() {
    if (_connection) _store.giveBack(std::move(_connection));
}

PostgresClassifierStore::PostgresClassifierStore(std::string connectionString,
                                                 std::size_t maxIdleConnections,
                                                 std::chrono::milliseconds lockTimeout,
                                                 std::chrono::milliseconds patience)
    : _connectionString(std::move(connectionString)),
      _maxIdleConnections(maxIdleConnections),
      _lockTimeout(lockTimeout),
      _patience(patience) {
    createTables();
}

PostgresClassifierStore::~PostgresClassifierStore() = default;

std::string PostgresClassifierStore::describe(const std::string& connectionString) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connectionString.c_str(), &error);
    if (options == nullptr) {
        // The connection attempt reports what is wrong with it.
        PQfreemem(error);
        return "<unreadable connection string>";
    }
    std::string described;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val == nullptr || std::strcmp(option->keyword, "password") == 0) continue;
        if (!described.empty()) described += ' ';
        described += std::string(option->keyword) + "=" + option->val;
    }
    PQconninfoFree(options);
    return "'" + described + "'";
}

std::int64_t PostgresClassifierStore::lockNumber(std::string_view key) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3;
    }
    return static_cast<std::int64_t>(hash);
}

PostgresClassifierStore::Connection PostgresClassifierStore::connect() const {
    // A database that takes connections but never answers, or a server that holds a lock and
    // stopped, would hold a request for good. Unless the connection string says otherwise (it is
    // read after the defaults, so its own values win), connecting gives up after
    // ConnectTimeoutSeconds, a lock is waited for at most _lockTimeout, and a peer that stopped
    // answering is given up after about a minute. The session options come after the string:
    // they hold its own options behind the lock timeout.
    const std::string timeout = std::to_string(ConnectTimeoutSeconds);
    const std::string options = sessionOptions(_connectionString, _lockTimeout);
    const char* const keywords[] = {"connect_timeout",
                                    "keepalives_idle",
                                    "keepalives_interval",
                                    "keepalives_count",
                                    "tcp_user_timeout",
                                    "dbname",
                                    "options",
                                    nullptr};
    const char* const values[] = {
        timeout.c_str(), "30",   "10", "3", "60000", _connectionString.c_str(),
        options.c_str(), nullptr};
    Connection connection(PQconnectdbParams(keywords, values, 1));
    if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
        throw ClassifierStoreException(
            "Cannot connect to the PostgreSQL database " + describe(_connectionString) + ": " +
            (connection ? oneLine(PQerrorMessage(connection.get())) : "out of memory"));
    }
    // Every wait for the database has a deadline (await): libpq must never block on its own.
    if (PQsetnonblocking(connection.get(), 1) != 0) {
        throw ClassifierStoreException("Cannot connect to the PostgreSQL database " +
                                       describe(_connectionString) + ": " +
                                       oneLine(PQerrorMessage(connection.get())));
    }
    // Notices (a table that exists already, a rollback with nothing to roll back) are expected.
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    return connection;
}

PostgresClassifierStore::Lease PostgresClassifierStore::borrow() {
    for (;;) {
        Connection connection;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (_idle.empty()) break;
            connection = std::move(_idle.back());
            _idle.pop_back();
        }
        // An idle connection has nothing to read: what there is is the goodbye of a server
        // that ended it (a restart, an administrator), or its end.
        pollfd idle{PQsocket(connection.get()), POLLIN, 0};
        if (idle.fd >= 0 && ::poll(&idle, 1, 0) == 0) return Lease(*this, std::move(connection));
    }
    // Connecting takes a round trip or more: not under the mutex.
    return Lease(*this, connect());
}

void PostgresClassifierStore::giveBack(Connection connection) noexcept {
    // A broken connection, or one still in a transaction (its rollback failed) or in a pipeline
    // not read to its end, is closed.
    if (PQstatus(connection.get()) != CONNECTION_OK ||
        PQtransactionStatus(connection.get()) != PQTRANS_IDLE ||
        PQpipelineStatus(connection.get()) != PQ_PIPELINE_OFF) {
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (_idle.size() < _maxIdleConnections) _idle.push_back(std::move(connection));
}

void PostgresClassifierStore::createTables() {
    const Lease lease = borrow();
    const Link connection = on(lease);
    command(connection, "BEGIN", "creating the tables");
    run(connection, "SELECT pg_advisory_xact_lock($1)",
        Params().int8(static_cast<std::uint64_t>(SchemaLock)), "creating the tables");
    // Tables made before (by an administrator, say) are used as they are: a role that may use
    // them need not be allowed to create any, which CREATE ... IF NOT EXISTS asks all the same.
    const Result present = run(connection,
                               "SELECT to_regclass('quillmark_schema') IS NOT NULL AND "
                               "to_regclass('quillmark_snapshots') IS NOT NULL AND "
                               "to_regclass('quillmark_journal') IS NOT NULL AND "
                               "to_regclass('quillmark_versions') IS NOT NULL",
                               Params(), "creating the tables");
    // A boolean in binary format is one byte, 1 for true.
    const bool made = PQgetvalue(present.get(), 0, 0)[0] == 1;
    const std::string tables =
        "CREATE TABLE IF NOT EXISTS quillmark_schema (version integer NOT NULL);"
        "CREATE TABLE IF NOT EXISTS quillmark_snapshots ("
        "  key text PRIMARY KEY, version bigint NOT NULL, snapshot_version bigint NOT NULL,"
        "  snapshot bytea NOT NULL);"
        "CREATE TABLE IF NOT EXISTS quillmark_journal ("
        "  key text NOT NULL, sequence bigint GENERATED ALWAYS AS IDENTITY,"
        "  version bigint NOT NULL, record bytea NOT NULL, PRIMARY KEY (key, sequence));"
        "CREATE SEQUENCE IF NOT EXISTS quillmark_versions";
    if (!made) command(connection, tables.c_str(), "creating the tables");
    const std::string layout = "INSERT INTO quillmark_schema (version) SELECT " +
                               std::to_string(SchemaVersion) +
                               " WHERE NOT EXISTS (SELECT 1 FROM quillmark_schema)";
    command(connection, layout.c_str(), "creating the tables");
    const Result schema = run(connection, "SELECT max(version)::bigint FROM quillmark_schema",
                              Params(), "reading the layout version");
    const std::uint64_t found = int8(schema.get(), 0, 0);
    if (found != SchemaVersion) {
        throw ClassifierStoreException("PostgreSQL: the tables in " + describe(_connectionString) +
                                       " have layout version " + std::to_string(found) +
                                       "; this server knows version " +
                                       std::to_string(SchemaVersion) + ".");
    }
    command(connection, "COMMIT", "creating the tables");
}

std::uint64_t PostgresClassifierStore::version(const std::string& key) {
    const Lease lease = borrow();
    return committedVersion(on(lease), key);
}

std::uint64_t PostgresClassifierStore::size(const std::string& key) {
    const Lease lease = borrow();
    const Result result =
        run(on(lease),
            "SELECT octet_length(snapshot)::bigint + coalesce((SELECT sum(octet_length(record)) "
            "FROM quillmark_journal WHERE key = $1), 0)::bigint "
            "FROM quillmark_snapshots WHERE key = $1",
            Params().text(key), forKey("reading the size", key));
    return PQntuples(result.get()) == 0 ? 0 : int8(result.get(), 0, 0);
}

std::optional<ClassifierStore::Stored> PostgresClassifierStore::load(const std::string& key,
                                                                     std::uint64_t since) {
    const Lease lease = borrow();
    // The snapshot row and the records are read in one database snapshot. A failure leaves the
    // connection in its transaction, and the lease closes it.
    command(on(lease), "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", forKey("loading", key));
    auto stored = loadOn(on(lease), key, since);
    command(on(lease), "COMMIT", forKey("loading", key));
    return stored;
}

std::unique_ptr<ClassifierStore::Transaction> PostgresClassifierStore::write(
    const std::string& key) {
    return std::make_unique<PostgresTransaction>(borrow(), key);
}

std::unique_ptr<ClassifierStore::Changes> PostgresClassifierStore::listen() {
    return std::make_unique<PostgresChanges>(connect(), _patience);
}

std::optional<bool> PostgresClassifierStore::committed(std::uint64_t transactionId) {
    // A database that restarts refuses connections for a moment, and the server process of a
    // lost connection may still be at its commit: asked again until the time is up.
    const std::chrono::milliseconds time =
        std::min<std::chrono::milliseconds>(_patience, std::chrono::seconds(ConnectTimeoutSeconds));
    const auto until = std::chrono::steady_clock::now() + time;
    for (;;) {
        try {
            const Lease lease(*this, connect());
            const Result status =
                run({lease.get(), time}, "SELECT pg_xact_status($1::text::xid8)",
                    Params().int8(transactionId), "asking for a commit's outcome");
            const std::string answer =
                PQgetisnull(status.get(), 0, 0) ? "" : bytes(status.get(), 0, 0);
            if (answer == "committed") return true;
            if (answer == "aborted") return false;
        } catch (const ClassifierStoreException&) {
            // Not reached, or not answering: asked again.
        }
        if (std::chrono::steady_clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace norvale::quillmark
