#include "SqlStore.h"

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <algorithm>
#include <mutex>
#include <random>
#include <thread>

namespace {

// Type identifiers from PostgreSQL's catalogue (pg_type.dat).
constexpr Oid int8Oid = 20;
constexpr Oid textOid = 25;
constexpr Oid float8Oid = 701;
constexpr Oid byteaOid = 17;
constexpr Oid int4Oid = 23;
constexpr Oid int2Oid = 21;
constexpr Oid numericOid = 1700;
constexpr Oid float4Oid = 700;

// A failure the transaction may be tried again after: the database asked
// for it, or the connection went.
class TransientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool isTransient(const char *state)
{
    if (!state)
        return true; // no answer at all: the connection is gone
    const std::string code(state);
    return code == "40001" || code == "40P01" || code.rfind("08", 0) == 0 || code == "57P01" || code == "57P02"
        || code == "57P03" || code == "53300" || code == "55P03";
}

// `?` placeholders become $1, $2, ...; the statements hold no `?` of their own.
std::string numbered(const std::string &sql)
{
    std::string out;
    out.reserve(sql.size() + 16);
    int index = 0;
    for (char c : sql) {
        if (c == '?')
            out += '$' + std::to_string(++index);
        else
            out += c;
    }
    return out;
}

void replaceWord(std::string &text, const std::string &word, const std::string &with)
{
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + with.size()))
        text.replace(at, word.size(), with);
}

// The advisory lock of a key: FNV-1a, the same in every instance and build.
int64_t lockOf(const std::string &key)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return int64_t(hash);
}

int hexDigit(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

class PgRow final : public SqlRow {
public:
    PgRow(const PGresult *result, int row) : m_result(result), m_row(row) {}
    int64_t integer(int column) const override { return std::strtoll(raw(column), nullptr, 10); }
    double real(int column) const override { return std::strtod(raw(column), nullptr); }
    std::string text(int column) const override
    {
        return std::string(raw(column), std::size_t(PQgetlength(m_result, m_row, column)));
    }
    // bytea in its hex output form: \x followed by two digits a byte.
    std::string blob(int column) const override
    {
        const char *hex = raw(column);
        const std::size_t length = std::size_t(PQgetlength(m_result, m_row, column));
        std::string bytes;
        if (length < 2)
            return bytes;
        bytes.reserve((length - 2) / 2);
        for (std::size_t i = 2; i + 1 < length; i += 2)
            bytes += char(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1]));
        return bytes;
    }
    SqlValue value(int column) const override
    {
        if (PQgetisnull(m_result, m_row, column))
            return nullptr;
        switch (PQftype(m_result, column)) {
        case int8Oid: case int4Oid: case int2Oid: return integer(column);
        case float8Oid: case float4Oid: case numericOid: return real(column);
        case byteaOid: return SqlBlob{blob(column)};
        default: return text(column);
        }
    }
    int columns() const override { return PQnfields(m_result); }

private:
    const char *raw(int column) const { return PQgetvalue(m_result, m_row, column); }
    const PGresult *m_result;
    int m_row;
};

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

class PgSession final : public SqlSession {
public:
    explicit PgSession(PGconn *connection) : m_connection(connection) {}
    SqlDialect dialect() const override { return SqlDialect::PostgreSQL; }

    int64_t run(const std::string &sql, const SqlParams &params) override
    {
        const Result result = execute(sql, params);
        const char *changed = PQcmdTuples(result.get());
        return changed && *changed ? std::strtoll(changed, nullptr, 10) : 0;
    }

    void each(const std::string &sql, const SqlParams &params, const std::function<void(const SqlRow &)> &row) override
    {
        const Result result = execute(sql, params);
        const int rows = PQntuples(result.get());
        for (int i = 0; i < rows; ++i)
            row(PgRow(result.get(), i));
    }

    void createTable(const std::string &sql) override
    {
        std::string text = sql;
        replaceWord(text, " INTEGER", " BIGINT");
        replaceWord(text, " REAL", " DOUBLE PRECISION");
        replaceWord(text, " BLOB", " BYTEA");
        execute(text, {});
    }

    // Statements without parameters, several in one round trip.
    void simple(const std::string &sql)
    {
        Result result(PQexec(m_connection, sql.c_str()), &PQclear);
        check(result);
    }

    Result execute(const std::string &sql, const SqlParams &params)
    {
        std::vector<Oid> types;
        std::vector<std::string> texts;
        std::vector<const char *> values;
        std::vector<int> lengths;
        std::vector<int> formats;
        types.reserve(params.size());
        texts.reserve(params.size());
        for (const SqlValue &value : params) {
            std::visit(
                [&](const auto &v) {
                    using T = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<T, std::nullptr_t>) {
                        types.push_back(0);
                        texts.emplace_back();
                        formats.push_back(0);
                    } else if constexpr (std::is_same_v<T, int64_t>) {
                        types.push_back(int8Oid);
                        texts.push_back(std::to_string(v));
                        formats.push_back(0);
                    } else if constexpr (std::is_same_v<T, double>) {
                        char number[64];
                        std::snprintf(number, sizeof number, "%.17g", v);
                        types.push_back(float8Oid);
                        texts.emplace_back(number);
                        formats.push_back(0);
                    } else if constexpr (std::is_same_v<T, SqlBlob>) {
                        types.push_back(byteaOid);
                        texts.push_back(v.bytes);
                        formats.push_back(1);
                    } else {
                        types.push_back(textOid);
                        texts.push_back(v);
                        formats.push_back(0);
                    }
                },
                value);
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            values.push_back(std::holds_alternative<std::nullptr_t>(params[i]) ? nullptr : texts[i].data());
            lengths.push_back(int(texts[i].size()));
        }
        Result result(PQexecParams(m_connection, numbered(sql).c_str(), int(params.size()), types.data(),
                                   values.data(), lengths.data(), formats.data(), 0),
                      &PQclear);
        check(result);
        return result;
    }

private:
    void check(const Result &result)
    {
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char *state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
            const std::string message = PQerrorMessage(m_connection);
            if (isTransient(state) || PQstatus(m_connection) != CONNECTION_OK)
                throw TransientError(message);
            throw std::runtime_error("PostgreSQL: " + message);
        }
    }


    PGconn *m_connection;
};

// A pool of connections, each serving one transaction at a time.
class PostgresStore final : public SqlStore {
public:
    PostgresStore(std::string address, const StoreOptions &options)
        : m_address(std::move(address)), m_options(options)
    {
        if (m_options.connections == 0)
            m_options.connections = 1;
        // Fails here, at start, when the database cannot be reached at all.
        m_idle.push_back(connect());
        m_open = 1;
    }

    ~PostgresStore() override
    {
        for (PGconn *connection : m_idle)
            PQfinish(connection);
    }

    SqlDialect dialect() const override { return SqlDialect::PostgreSQL; }
    bool retries() const override { return true; }

    void transact(const std::string &lockKey, bool durable, const std::function<void(SqlSession &)> &work) override
    {
        // One round trip opens the transaction. Requests of one account take
        // their turn on its lock, whichever instance serves them; other
        // accounts' go on beside them.
        std::string opening = "BEGIN;";
        if (!durable)
            opening += "SET LOCAL synchronous_commit = off;";
        if (!lockKey.empty())
            opening += "SELECT pg_advisory_xact_lock(" + std::to_string(lockOf(lockKey)) + ");";
        attempt([&](PgSession &session) {
            session.simple(opening);
            work(session);
            session.execute("COMMIT", {});
        });
    }

    void setUp(const std::function<void(SqlSession &)> &work) override
    {
        // A fixed key of its own, far from the hashes of accounts by chance only.
        attempt([&](PgSession &session) {
            session.simple("BEGIN; SELECT pg_advisory_xact_lock(7407160201)");
            work(session);
            session.execute("COMMIT", {});
        });
    }

private:
    template <class Body>
    void attempt(Body &&body)
    {
        thread_local std::minstd_rand jitter{std::random_device{}()};
        int pauseMs = m_options.firstPauseMs;
        for (int attempt = 1;; ++attempt) {
            PGconn *connection = nullptr;
            try {
                connection = acquire();
                PgSession session(connection);
                body(session);
                release(connection);
                return;
            } catch (const TransientError &error) {
                putBack(connection);
                if (attempt >= m_options.attempts)
                    throw StoreUnavailable(std::string("the database is unavailable: ") + error.what());
            } catch (...) {
                putBack(connection);
                throw;
            }
            std::this_thread::sleep_for(
                std::chrono::milliseconds(pauseMs / 2 + int(jitter() % unsigned(std::max(1, pauseMs)))));
            pauseMs *= 2;
        }
    }

    // After a failed transaction: the connection rolled back into the pool
    // when it still works, closed when not.
    void putBack(PGconn *connection)
    {
        if (!connection)
            return; // acquire freed its place itself
        if (PQstatus(connection) == CONNECTION_OK) {
            const Result result(PQexec(connection, "ROLLBACK"), &PQclear);
            if (result && PQresultStatus(result.get()) == PGRES_COMMAND_OK
                && PQtransactionStatus(connection) == PQTRANS_IDLE) {
                release(connection);
                return;
            }
        }
        discard(connection);
    }

    PGconn *connect()
    {
        PGconn *connection = PQconnectdb(m_address.c_str());
        if (PQstatus(connection) != CONNECTION_OK) {
            const std::string message = PQerrorMessage(connection);
            PQfinish(connection);
            throw TransientError("cannot connect to PostgreSQL: " + message);
        }
        // Notices ("already exists, skipping") are no news to the log.
        PQsetNoticeProcessor(connection, [](void *, const char *) {}, nullptr);
        return connection;
    }

    PGconn *acquire()
    {
        {
            std::unique_lock lock(m_mutex);
            m_available.wait(lock, [this] { return !m_idle.empty() || m_open < m_options.connections; });
            if (!m_idle.empty()) {
                PGconn *connection = m_idle.back();
                m_idle.pop_back();
                if (PQstatus(connection) == CONNECTION_OK)
                    return connection;
                PQfinish(connection);
                --m_open;
            }
            ++m_open;
        }
        try {
            return connect();
        } catch (...) {
            discard(nullptr);
            throw;
        }
    }

    void release(PGconn *connection)
    {
        {
            std::lock_guard lock(m_mutex);
            m_idle.push_back(connection);
        }
        m_available.notify_one();
    }

    // The connection is closed and its place in the pool freed.
    void discard(PGconn *connection)
    {
        if (connection)
            PQfinish(connection);
        {
            std::lock_guard lock(m_mutex);
            if (m_open > 0)
                --m_open;
        }
        m_available.notify_one();
    }

    std::string m_address;
    StoreOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<PGconn *> m_idle;
    std::size_t m_open = 0;
};

} // namespace

std::unique_ptr<SqlStore> openPostgresStore(const std::string &address, const StoreOptions &options)
{
    try {
        return std::make_unique<PostgresStore>(address, options);
    } catch (const TransientError &error) {
        throw std::runtime_error(error.what());
    }
}
