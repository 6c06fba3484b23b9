#pragma once

// Internal to the store: statement and row helpers shared by its operations.

#include "DBManager.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace store {

// A prepared statement together with the connection it was issued on. The
// connection is declared first so it outlives the statement: another thread
// may replace DBManager's current connection while this one is still stepping.
struct IssuedStatement {
    DBManager::Connection connection;
    SQLite::Statement statement;

    IssuedStatement(DBManager::Connection issuedOn, const char *sql)
        : connection(std::move(issuedOn)), statement(*connection, sql)
    {
    }
};

// Whole seconds since 1970, the fraction cut toward zero.
int64_t secondsSinceEpoch();
// Tests that play several machines give each its own clock: `clock` maps the
// system's seconds to the machine's. An empty one brings the system's back.
void setClockForTesting(std::function<int64_t(int64_t)> clock);

void bindText(SQLite::Statement &statement, int index, const QString &text);
// Always a BLOB, an empty one as a zero-length blob rather than NULL.
void bindBlob(SQLite::Statement &statement, int index, const QByteArray &bytes);
inline void bindBool(SQLite::Statement &statement, int index, bool value)
{
    statement.bind(index, static_cast<int64_t>(value ? 1 : 0));
}

// Index of a result column by its exact name; a missing one fails naming it.
int requireColumn(const SQLite::Statement &statement, const char *name);

// Typed reads of the current row. A NULL or a value of another storage type
// fails naming the column: SQLite itself would convert it silently.
int64_t readInteger(const SQLite::Statement &statement, int index);
QString readText(const SQLite::Statement &statement, int index);
QByteArray readBlob(const SQLite::Statement &statement, int index);
// The same, with a NULL read as no value instead of failing.
std::optional<int64_t> readIntegerOrNull(const SQLite::Statement &statement, int index);
std::optional<QString> readTextOrNull(const SQLite::Statement &statement, int index);
std::optional<QByteArray> readBlobOrNull(const SQLite::Statement &statement, int index);

// Where each field of a note sits in one statement's result, looked up once.
struct NoteColumns {
    int noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink;
    explicit NoteColumns(const SQLite::Statement &statement);
};

Note readNote(const SQLite::Statement &statement, const NoteColumns &columns);

} // namespace store
