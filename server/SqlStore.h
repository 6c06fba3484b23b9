#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// Bytes kept as a blob (bytea), not as text.
struct SqlBlob {
    std::string bytes;
};

using SqlValue = std::variant<std::nullptr_t, int64_t, double, std::string, SqlBlob>;
using SqlParams = std::vector<SqlValue>;

// One row of a result, read by column index.
class SqlRow {
public:
    virtual ~SqlRow() = default;
    virtual int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
    virtual std::string text(int column) const = 0;
    virtual std::string blob(int column) const = 0;
    // The column as stored, for copying rows between stores.
    virtual SqlValue value(int column) const = 0;
    virtual int columns() const = 0;
};

enum class SqlDialect { SQLite, PostgreSQL };

// One connection inside one transaction. Statements are written with `?`
// placeholders; both dialects understand the rest where the callers share it.
class SqlSession {
public:
    virtual ~SqlSession() = default;
    virtual SqlDialect dialect() const = 0;
    // Runs a statement; returns the rows it changed.
    virtual int64_t run(const std::string &sql, const SqlParams &params = {}) = 0;
    // Calls `row` for each row of a query, in order.
    virtual void each(const std::string &sql, const SqlParams &params,
                      const std::function<void(const SqlRow &)> &row) = 0;
    // Calls `row` for the first row only; whether there was one.
    bool first(const std::string &sql, const SqlParams &params, const std::function<void(const SqlRow &)> &row = {});
    // A table definition in the SQLite spelling (INTEGER, REAL, BLOB), made
    // when missing.
    virtual void createTable(const std::string &sql) = 0;
};

// Transient failures went on past the retries: the request may come again.
class StoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    static constexpr int retryAfterSeconds = 2;
};

struct StoreOptions {
    // Connections held open to PostgreSQL: requests of this many accounts at once.
    std::size_t connections = 16;
    // Attempts of one transaction that meets serialization failures, deadlocks
    // or a lost connection, with a doubling pause between them.
    int attempts = 6;
    int firstPauseMs = 25;
};

// Where the service keeps everything: its accounts, notes, machines, links
// and rate counts. Every request is one transaction through `transact`.
class SqlStore {
public:
    virtual ~SqlStore() = default;
    virtual SqlDialect dialect() const = 0;
    // Runs `work` in one transaction and commits it. Transactions naming the
    // same `lockKey` run one after the other, in this process or any other on
    // the same database; an empty key takes no lock. A transaction that is
    // not `durable` may be lost to a crash of the machine, in exchange for not
    // waiting for the disk. `work` may run more than once when the database
    // asks for the transaction to be tried again: it must start from what it
    // was given each time.
    virtual void transact(const std::string &lockKey, bool durable, const std::function<void(SqlSession &)> &work) = 0;
    // Like transact, once for the whole database: schema changes at start,
    // which several instances starting together then make one at a time.
    virtual void setUp(const std::function<void(SqlSession &)> &work) = 0;
    // Whether `transact` may run its work more than once.
    virtual bool retries() const = 0;
};

// "postgresql://..." (or "postgres://...") opens PostgreSQL; anything else is
// the path of an SQLite file, made when missing.
std::unique_ptr<SqlStore> openSqlStore(const std::string &where, const StoreOptions &options = {});
bool isPostgresAddress(const std::string &where);
