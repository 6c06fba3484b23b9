#pragma once

#include "Note.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>

namespace SQLite { class Database; }

// The local store: "~/.tovik/tovik.db" with its tables "user" and "notes".
//
// The store keeps one current connection in `db`. Every note operation opens a
// fresh connection, installs it as the current one and runs its statements on
// it; a replaced connection closes once the last statement holding it is done.
// Operations fail by throwing DBError or the SQLite layer's SQLite::Exception.
class DBManager {
public:
    using Connection = std::shared_ptr<SQLite::Database>;

    DBManager();
    ~DBManager();
    DBManager(const DBManager &) = delete;
    DBManager &operator=(const DBManager &) = delete;

    // The process-wide store every caller uses.
    static DBManager &shared();

    // "~/.tovik/tovik.db" with "~" replaced by the user's home folder.
    static QString databasePath();

    void setupDatabase();
    void addMissingNoteColumns();
    bool tableHasColumns(const QString &table, const QStringList &columns);
    void createLocalUser();

    QString createNote();

    bool saveNote(const QString &noteId, const QByteArray &content, int64_t type, bool isdeleted,
                  const QString &title, int64_t isfavorite, const QString &filelink);
    bool deleteNote(const QString &noteId);
    bool updateFavoriteStatus(const QString &noteId, int64_t isfavorite);
    bool deleteNotePermanently(const QString &noteId);

    bool deleteLocallyDeletedNotes();
    QList<Note> fetchAllNotes();
    QList<Note> fetchNotesForSync();
    Note fetchNote(const QString &noteId);
    void upsertNote(const Note &note);

    // The two writes of a sync reply, for a user who may have changed notes
    // while the request was on its way. `sent` is each note as the request
    // carried it; a row that differs from it in any field a local change
    // alters was changed since and is left alone, to go out with the next sync.
    //
    // Removes each note that went out marked deleted and is unchanged since;
    // gives the identifiers removed.
    QStringList deleteSentDeletedNotes(const QList<Note> &sent);
    // Writes a server note where no local row has its identifier and none was
    // sent (`sent` empty), or where the row is unchanged since it was sent.
    // True when the note was written.
    bool upsertNoteIfUnchanged(const Note &note, const std::optional<Note> &sent);

    // The current connection (empty until something installed one).
    Connection db() const;

private:
    void installDb(Connection connection);
    // The opening step of every note operation: a new connection on the file
    // (created when missing, its folder not), installed as `db`. A failed open
    // throws and leaves `db` as it was.
    void openNewConnection();
    // Runs one statement without results on the current connection, if any.
    void execute(const char *sql);
    void createTables();
    void upgradeTablesIfNeeded();

    mutable std::mutex m_dbMutex;
    Connection m_db;
};

// True when both contents hold the same to-do list, item by item.
bool compareTodoItems(const QByteArray &a, const QByteArray &b);

// 40 lower-case hex digits of the SHA-1 of the text's UTF-8 bytes.
QString sha1Hex(const QString &text);

// A fresh note identifier: sha1Hex(new upper-case UUID text + "-" + now).
QString makeNoteId(int64_t now);
