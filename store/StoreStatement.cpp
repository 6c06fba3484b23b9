#include "StoreStatement.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

namespace store {

namespace {

const char *storageName(int storage)
{
    switch (storage) {
    case SQLITE_INTEGER: return "INTEGER";
    case SQLITE_FLOAT: return "REAL";
    case SQLITE_TEXT: return "TEXT";
    case SQLITE_BLOB: return "BLOB";
    default: return "NULL";
    }
}

void requireStorage(const SQLite::Statement &statement, int index, int expected)
{
    const int found = statement.getColumn(index).getType();
    if (found == expected)
        return;
    throw SQLite::Exception(std::string("column \"") + statement.getColumnName(index) + "\" holds "
                                    + storageName(found) + " where " + storageName(expected) + " was expected",
                            SQLITE_MISMATCH);
}

} // namespace

namespace {

std::atomic<bool> clockReplaced{false};
std::mutex clockMutex;
std::function<int64_t(int64_t)> replacementClock;

} // namespace

int64_t secondsSinceEpoch()
{
    using namespace std::chrono;
    const int64_t now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    if (!clockReplaced.load(std::memory_order_acquire))
        return now;
    std::lock_guard lock(clockMutex);
    return replacementClock ? replacementClock(now) : now;
}

void setClockForTesting(std::function<int64_t(int64_t)> clock)
{
    std::lock_guard lock(clockMutex);
    replacementClock = std::move(clock);
    clockReplaced.store(bool(replacementClock), std::memory_order_release);
}

void bindText(SQLite::Statement &statement, int index, const QString &text)
{
    statement.bind(index, text.toStdString());
}

void bindBlob(SQLite::Statement &statement, int index, const QByteArray &bytes)
{
    // sqlite3_bind_blob() binds NULL for a null pointer, whatever the size.
    static const char noBytes = 0;
    statement.bind(index, bytes.isEmpty() ? static_cast<const void *>(&noBytes) : bytes.constData(),
                   static_cast<int>(bytes.size()));
}

int requireColumn(const SQLite::Statement &statement, const char *name)
{
    for (int i = 0; i < statement.getColumnCount(); ++i) {
        if (std::strcmp(statement.getColumnName(i), name) == 0)
            return i;
    }
    throw SQLite::Exception(std::string("no such column: \"") + name + "\"", SQLITE_ERROR);
}

int64_t readInteger(const SQLite::Statement &statement, int index)
{
    requireStorage(statement, index, SQLITE_INTEGER);
    return statement.getColumn(index).getInt64();
}

QString readText(const SQLite::Statement &statement, int index)
{
    requireStorage(statement, index, SQLITE_TEXT);
    const SQLite::Column column = statement.getColumn(index);
    return QString::fromUtf8(column.getText(), column.getBytes());
}

QByteArray readBlob(const SQLite::Statement &statement, int index)
{
    requireStorage(statement, index, SQLITE_BLOB);
    const SQLite::Column column = statement.getColumn(index);
    return QByteArray(static_cast<const char *>(column.getBlob()), column.getBytes());
}

namespace {

template<typename Read>
auto orNull(const SQLite::Statement &statement, int index, Read read)
        -> std::optional<decltype(read(statement, index))>
{
    if (statement.getColumn(index).isNull())
        return std::nullopt;
    return read(statement, index);
}

} // namespace

std::optional<int64_t> readIntegerOrNull(const SQLite::Statement &statement, int index)
{
    return orNull(statement, index, readInteger);
}

std::optional<QString> readTextOrNull(const SQLite::Statement &statement, int index)
{
    return orNull(statement, index, readText);
}

std::optional<QByteArray> readBlobOrNull(const SQLite::Statement &statement, int index)
{
    return orNull(statement, index, readBlob);
}

NoteColumns::NoteColumns(const SQLite::Statement &statement)
    : noteid(requireColumn(statement, "noteid")),
      content(requireColumn(statement, "content")),
      type(requireColumn(statement, "type")),
      isdeleted(requireColumn(statement, "isdeleted")),
      createdtime(requireColumn(statement, "createdtime")),
      lastmodifiedtime(requireColumn(statement, "lastmodifiedtime")),
      title(requireColumn(statement, "title")),
      isfavorite(requireColumn(statement, "isfavorite")),
      filelink(requireColumn(statement, "filelink"))
{
}

Note readNote(const SQLite::Statement &statement, const NoteColumns &columns)
{
    Note note;
    note.id = readText(statement, columns.noteid);
    note.content = readBlob(statement, columns.content);
    note.type = readInteger(statement, columns.type);
    note.isdeleted = readInteger(statement, columns.isdeleted) != 0;
    note.createdDate = readInteger(statement, columns.createdtime);
    note.lastModifiedDate = readInteger(statement, columns.lastmodifiedtime);
    note.title = readText(statement, columns.title);
    note.isfavorite = readInteger(statement, columns.isfavorite);
    note.filelink = readText(statement, columns.filelink);
    return note;
}

} // namespace store
