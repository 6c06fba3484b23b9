#include "SyncBases.h"

#include "DamagedStore.h"
#include "StoreStatement.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

namespace {

constexpr const char *kCreateBasesTable =
        R"(CREATE TABLE IF NOT EXISTS "syncbases" ("noteid" TEXT PRIMARY KEY NOT NULL, "rev" INTEGER NOT NULL))";
// A base without its row would be handed to a new note of the same identifier.
constexpr const char *kCreateForgetTrigger =
        R"(CREATE TRIGGER IF NOT EXISTS "syncbases_forget" AFTER DELETE ON "notes" BEGIN DELETE FROM "syncbases" WHERE "noteid" = OLD."noteid"; END)";
constexpr const char *kHasBasesTable = R"(SELECT count(*) FROM "sqlite_master" WHERE "type" = 'table' AND "name" = 'syncbases')";
constexpr const char *kSelectBases = R"(SELECT "noteid", "rev" FROM "syncbases")";

// Long enough for the user's save on the other connection to finish.
constexpr int kBusyTimeoutMs = 5000;

} // namespace

namespace SyncBases {

void createTable(SQLite::Database &db)
{
    db.exec(kCreateBasesTable);
    db.exec(kCreateForgetTrigger);
}

void createTable(const QString &databasePath)
{
    createTable(*openStoreFile(databasePath));
}

std::unique_ptr<SQLite::Database> openStoreFile(const QString &databasePath)
{
    auto db = std::make_unique<SQLite::Database>(databasePath.toStdString(),
                                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                                                 kBusyTimeoutMs);
    // Writes wait, like the store's own, until a damaged file has been copied.
    damagedStore::guardConnection(*db);
    return db;
}

QHash<QString, int64_t> readAll(const QString &databasePath)
{
    const std::unique_ptr<SQLite::Database> db = openStoreFile(databasePath);
    QHash<QString, int64_t> bases;
    if (db->execAndGet(kHasBasesTable).getInt64() == 0)
        return bases;
    SQLite::Statement select(*db, kSelectBases);
    while (select.executeStep())
        bases.insert(store::readText(select, 0), store::readInteger(select, 1));
    return bases;
}

} // namespace SyncBases
