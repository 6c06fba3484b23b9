#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <memory>

namespace SQLite { class Database; }

// For each note, the revision this machine last agreed with the sync service:
// its base. The service merges what changed on both sides since the base, so
// a base must only ever name a revision whose copy the local row derives from.
//
// The bases live in "tovik.db" in a table of their own beside "notes"; a
// trigger drops a note's base together with its row, however it is removed.
namespace SyncBases {

// Creates the table and its trigger when they are missing.
void createTable(SQLite::Database &db);
// Creates them in the store's file at `databasePath`, which must exist.
void createTable(const QString &databasePath);

// A connection of the sync's own on the store's existing file (never created
// here), waiting for the other connections' locks.
std::unique_ptr<SQLite::Database> openStoreFile(const QString &databasePath);

// Every recorded base by note identifier; a file without the table has none.
QHash<QString, int64_t> readAll(const QString &databasePath);

} // namespace SyncBases
