#pragma once

#include "DBManager.h"
#include "TestHome.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <SQLiteCpp/Database.h>
#include <iostream>
#include <memory>
#include <sstream>

// Holds the database's exclusive lock, as a running sync can, so that every
// other connection's statements fail with "database is locked".
class DatabaseLock {
public:
    DatabaseLock()
        : m_db(std::make_unique<SQLite::Database>(DBManager::databasePath().toStdString(),
                                                  SQLite::OPEN_READWRITE))
    {
        m_db->exec("BEGIN EXCLUSIVE");
    }
    void release()
    {
        if (m_db) {
            m_db->exec("COMMIT");
            m_db.reset();
        }
    }
    ~DatabaseLock() { release(); }

private:
    std::unique_ptr<SQLite::Database> m_db;
};

// A note as the sync service would have stored it, with a known change time.
inline Note storedNote(const QByteArray &content, int64_t type, int64_t isfavorite = 0,
                       const QString &title = QString(), const QString &filelink = QString())
{
    Note note;
    note.id = makeNoteId(1000);
    note.content = content;
    note.type = type;
    note.createdDate = 900;
    note.lastModifiedDate = 1000;
    note.title = title;
    note.isfavorite = isfavorite;
    note.filelink = filelink;
    DBManager::shared().upsertNote(note);
    return note;
}
