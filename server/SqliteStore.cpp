#include "SqlStore.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <mutex>
#include <unordered_map>

namespace {

class SqliteRow final : public SqlRow {
public:
    explicit SqliteRow(const SQLite::Statement &statement) : m_statement(statement) {}
    int64_t integer(int column) const override { return m_statement.getColumn(column).getInt64(); }
    double real(int column) const override { return m_statement.getColumn(column).getDouble(); }
    std::string text(int column) const override { return m_statement.getColumn(column).getString(); }
    std::string blob(int column) const override
    {
        const SQLite::Column value = m_statement.getColumn(column);
        return std::string(static_cast<const char *>(value.getBlob()), std::size_t(value.getBytes()));
    }
    SqlValue value(int column) const override
    {
        const SQLite::Column value = m_statement.getColumn(column);
        if (value.isInteger())
            return value.getInt64();
        if (value.isFloat())
            return value.getDouble();
        if (value.isBlob())
            return SqlBlob{blob(column)};
        if (value.isNull())
            return nullptr;
        return value.getString();
    }
    int columns() const override { return m_statement.getColumnCount(); }

private:
    const SQLite::Statement &m_statement;
};

// One connection, one request at a time: what serves one person or a team.
class SqliteStore final : public SqlStore, private SqlSession {
public:
    explicit SqliteStore(const std::string &path)
        : m_db(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_FULLMUTEX)
    {
        m_db.exec("PRAGMA journal_mode = WAL");
        m_db.exec("PRAGMA synchronous = FULL");
        // One large sync may grow the WAL far; it shrinks back after the checkpoint.
        m_db.exec("PRAGMA journal_size_limit = 4194304");
    }

    SqlDialect dialect() const override { return SqlDialect::SQLite; }
    bool retries() const override { return false; }

    void transact(const std::string &, bool durable, const std::function<void(SqlSession &)> &work) override
    {
        std::lock_guard lock(m_mutex);
        // Commits that are not durable skip the wait for the disk.
        if (!durable)
            m_db.exec("PRAGMA synchronous = NORMAL");
        try {
            SQLite::Transaction transaction(m_db);
            work(*this);
            transaction.commit();
        } catch (...) {
            if (!durable)
                m_db.exec("PRAGMA synchronous = FULL");
            throw;
        }
        if (!durable)
            m_db.exec("PRAGMA synchronous = FULL");
    }

    void setUp(const std::function<void(SqlSession &)> &work) override { transact({}, true, work); }

private:
    // Prepared once per text; each use resets it, so no statement holds a
    // read open across a commit and the WAL can be checkpointed back to its
    // start, and its bound copies of large texts go at once.
    class Use {
    public:
        Use(SqliteStore &store, const std::string &sql, const SqlParams &params) : m_statement(store.statement(sql))
        {
            int index = 1;
            for (const SqlValue &value : params) {
                std::visit(
                    [&](const auto &v) {
                        using T = std::decay_t<decltype(v)>;
                        if constexpr (std::is_same_v<T, std::nullptr_t>)
                            m_statement.bind(index);
                        else if constexpr (std::is_same_v<T, SqlBlob>)
                            m_statement.bind(index, v.bytes.data(), int(v.bytes.size()));
                        else
                            m_statement.bind(index, v);
                    },
                    value);
                ++index;
            }
        }
        ~Use()
        {
            m_statement.tryReset();
            try {
                m_statement.clearBindings();
            } catch (const std::exception &) {
            }
        }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;
        SQLite::Statement &operator*() { return m_statement; }

    private:
        SQLite::Statement &m_statement;
    };

    SQLite::Statement &statement(const std::string &sql)
    {
        auto found = m_statements.find(sql);
        if (found == m_statements.end())
            found = m_statements.emplace(sql, std::make_unique<SQLite::Statement>(m_db, sql)).first;
        return *found->second;
    }

    int64_t run(const std::string &sql, const SqlParams &params) override
    {
        Use use(*this, sql, params);
        return (*use).exec();
    }

    void each(const std::string &sql, const SqlParams &params, const std::function<void(const SqlRow &)> &row) override
    {
        Use use(*this, sql, params);
        const SqliteRow view(*use);
        while ((*use).executeStep())
            row(view);
    }

    void createTable(const std::string &sql) override { m_db.exec(sql); }

    std::mutex m_mutex;
    SQLite::Database m_db;
    std::unordered_map<std::string, std::unique_ptr<SQLite::Statement>> m_statements;
};

} // namespace

bool SqlSession::first(const std::string &sql, const SqlParams &params, const std::function<void(const SqlRow &)> &row)
{
    bool found = false;
    each(sql, params, [&](const SqlRow &r) {
        if (!found && row)
            row(r);
        found = true;
    });
    return found;
}

bool isPostgresAddress(const std::string &where)
{
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<SqlStore> openPostgresStore(const std::string &address, const StoreOptions &options);

std::unique_ptr<SqlStore> openSqlStore(const std::string &where, const StoreOptions &options)
{
    if (isPostgresAddress(where))
        return openPostgresStore(where, options);
    return std::make_unique<SqliteStore>(where);
}
