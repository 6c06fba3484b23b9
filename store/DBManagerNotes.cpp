#include "DBManager.h"

#include "DBError.h"
#include "ItemType.h"
#include "StoreStatement.h"
#include "NoteWrites.h"
#include "TextEquality.h"

#include <algorithm>
#include <optional>

using store::kInsertNote;
using store::kSelectNoteById;

namespace {

constexpr const char *kSaveNote =
        R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ? WHERE ("noteid" = ?))";
constexpr const char *kSoftDeleteNote = R"(UPDATE "notes" SET "isdeleted" = ?, "lastmodifiedtime" = ? WHERE ("noteid" = ?))";
constexpr const char *kUpdateFavorite = R"(UPDATE "notes" SET "isfavorite" = ?, "lastmodifiedtime" = ? WHERE ("noteid" = ?))";
constexpr const char *kDeleteNote = R"(DELETE FROM "notes" WHERE ("noteid" = ?))";
constexpr const char *kSelectLiveNotes = R"(SELECT * FROM "notes" WHERE NOT ("isdeleted") ORDER BY "lastmodifiedtime" DESC)";
constexpr const char *kSelectNotesForSync = R"(SELECT * FROM "notes" WHERE ("isbackup" = ?) ORDER BY "lastmodifiedtime" DESC)";
constexpr const char *kPurgeDeletedNotes = R"(DELETE FROM "notes" WHERE ("isdeleted" = ?))";
constexpr const char *kUpsertUpdateNote =
        R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ?, "isbackup" = ? WHERE ("noteid" = ?))";

DBManager::Connection requireConnection(const DBManager &store)
{
    DBManager::Connection connection = store.db();
    if (!connection)
        throw DBError::databaseNotInitialized();
    return connection;
}

QList<Note> readNoteList(const DBManager &store, const char *sql, std::optional<int64_t> parameter)
{
    store::IssuedStatement select(requireConnection(store), sql);
    if (parameter)
        select.statement.bind(1, *parameter);
    // The columns are looked up at the first row: a table without rows reads
    // as empty whatever columns it lacks.
    std::optional<store::NoteColumns> columns;
    QList<Note> notes;
    while (select.statement.executeStep()) {
        if (!columns)
            columns.emplace(select.statement);
        notes.append(store::readNote(select.statement, *columns));
    }
    return notes;
}

// Runs an UPDATE or DELETE that addresses one note; matching no row means the
// identifier is unknown.
template<typename Bind>
void changeOneNote(const DBManager &store, const char *sql, Bind bind)
{
    store::IssuedStatement change(requireConnection(store), sql);
    bind(change.statement);
    if (change.statement.exec() == 0)
        throw DBError::noteNotFound();
}

} // namespace

QString DBManager::createNote()
{
    openNewConnection();
    const int64_t now = store::secondsSinceEpoch();
    const Note note{makeNoteId(now), QByteArray(), 1, false, now, now, QString(), 0, QString()};
    store::IssuedStatement insert(requireConnection(*this), kInsertNote);
    store::bindNewRow(insert.statement, note);
    insert.statement.exec();
    return note.id;
}

bool DBManager::saveNote(const QString &noteId, const QByteArray &content, int64_t type, bool isdeleted,
                         const QString &title, int64_t isfavorite, const QString &filelink)
{
    openNewConnection();
    {
        store::IssuedStatement select(requireConnection(*this), kSelectNoteById);
        store::bindText(select.statement, 1, noteId);
        if (!select.statement.executeStep())
            throw DBError::noteNotFound();

        // Every compared column is read (and type-checked) before any decision,
        // so a damaged row fails the save instead of being half compared. A
        // NULL, which another program may have left, equals no argument: the
        // save then writes when the content differs, and repairs the row.
        const SQLite::Statement &row = select.statement;
        const auto storedContent = store::readBlobOrNull(row, store::requireColumn(row, "content"));
        const auto storedType = store::readIntegerOrNull(row, store::requireColumn(row, "type"));
        const auto storedDeleted = store::readIntegerOrNull(row, store::requireColumn(row, "isdeleted"));
        const auto storedTitle = store::readTextOrNull(row, store::requireColumn(row, "title"));
        const auto storedFavorite = store::readIntegerOrNull(row, store::requireColumn(row, "isfavorite"));
        const auto storedFilelink = store::readTextOrNull(row, store::requireColumn(row, "filelink"));

        const bool allEqual = content == storedContent && type == storedType && storedDeleted
                && isdeleted == (*storedDeleted != 0) && storedTitle && sameText(title, *storedTitle)
                && isfavorite == storedFavorite && storedFilelink && sameText(filelink, *storedFilelink);
        if (allEqual)
            return true;

        // Only a content change is worth a write; a to-do list counts as
        // unchanged when it holds the same items, however it is spelled.
        const bool contentUnchanged = storedContent
                && (type == rawValue(ItemType::todo) ? compareTodoItems(content, *storedContent)
                                                     : content == *storedContent);
        if (contentUnchanged)
            return true;
    }

    const int64_t now = store::secondsSinceEpoch();
    changeOneNote(*this, kSaveNote, [&](SQLite::Statement &update) {
        store::bindBlob(update, 1, content);
        update.bind(2, type);
        store::bindBool(update, 3, isdeleted);
        update.bind(4, now);
        store::bindText(update, 5, title);
        update.bind(6, isfavorite);
        store::bindText(update, 7, filelink);
        store::bindText(update, 8, noteId);
    });
    return true;
}

bool DBManager::deleteNote(const QString &noteId)
{
    openNewConnection();
    const int64_t now = store::secondsSinceEpoch();
    changeOneNote(*this, kSoftDeleteNote, [&](SQLite::Statement &update) {
        store::bindBool(update, 1, true);
        update.bind(2, now);
        store::bindText(update, 3, noteId);
    });
    return true;
}

bool DBManager::updateFavoriteStatus(const QString &noteId, int64_t isfavorite)
{
    openNewConnection();
    const int64_t now = store::secondsSinceEpoch();
    changeOneNote(*this, kUpdateFavorite, [&](SQLite::Statement &update) {
        update.bind(1, isfavorite);
        update.bind(2, now);
        store::bindText(update, 3, noteId);
    });
    return true;
}

bool DBManager::deleteNotePermanently(const QString &noteId)
{
    openNewConnection();
    changeOneNote(*this, kDeleteNote, [&](SQLite::Statement &remove) { store::bindText(remove, 1, noteId); });
    return true;
}

bool DBManager::deleteLocallyDeletedNotes()
{
    openNewConnection();
    Connection connection = db();
    if (!connection)
        return false;
    store::IssuedStatement purge(std::move(connection), kPurgeDeletedNotes);
    purge.statement.bind(1, static_cast<int64_t>(1));
    return purge.statement.exec() > 0;
}

QList<Note> DBManager::fetchAllNotes()
{
    openNewConnection();
    return readNoteList(*this, kSelectLiveNotes, std::nullopt);
}

QList<Note> DBManager::fetchNotesForSync()
{
    openNewConnection();
    return readNoteList(*this, kSelectNotesForSync, 0);
}

Note DBManager::fetchNote(const QString &noteId)
{
    openNewConnection();
    store::IssuedStatement select(requireConnection(*this), kSelectNoteById);
    store::bindText(select.statement, 1, noteId);
    if (!select.statement.executeStep())
        throw DBError::noteNotFound();
    return store::readNote(select.statement, store::NoteColumns(select.statement));
}

namespace {

bool noteRowExists(const DBManager &store, const QString &noteId)
{
    store::IssuedStatement select(requireConnection(store), kSelectNoteById);
    store::bindText(select.statement, 1, noteId);
    return select.statement.executeStep();
}

} // namespace

void DBManager::upsertNote(const Note &note)
{
    openNewConnection();
    if (noteRowExists(*this, note.id)) {
        store::IssuedStatement update(requireConnection(*this), kUpsertUpdateNote);
        store::bindServerFields(update.statement, note);
        update.statement.exec();
    } else {
        store::IssuedStatement insert(requireConnection(*this), kInsertNote);
        store::bindNewRow(insert.statement, note);
        insert.statement.exec();
    }
}

QStringList DBManager::deleteSentDeletedNotes(const QList<Note> &sent)
{
    openNewConnection();
    QStringList removed;
    const Connection connection = db();
    if (!connection)
        return removed;
    QList<Note> deleted;
    for (const Note &note : sent) {
        if (note.isdeleted)
            deleted.append(note);
    }
    // The comparison and the removal are one statement, so an edit can never
    // fall between them.
    for (qsizetype first = 0; first < deleted.size(); first += store::kPurgeBatch) {
        const qsizetype count = std::min(store::kPurgeBatch, deleted.size() - first);
        store::IssuedStatement purge(connection, store::purgeSentDeletedStatement(count).c_str());
        store::bindPurge(purge.statement, deleted.constData() + first, count);
        while (purge.statement.executeStep())
            removed.append(store::readText(purge.statement, 0));
    }
    return removed;
}

bool DBManager::upsertNoteIfUnchanged(const Note &note, const std::optional<Note> &sent)
{
    openNewConnection();
    if (!noteRowExists(*this, note.id)) {
        // A note that went out and is gone now was removed by the user.
        if (sent)
            return false;
        store::IssuedStatement insert(requireConnection(*this), kInsertNote);
        store::bindNewRow(insert.statement, note);
        insert.statement.exec();
        return true;
    }
    // A row the request did not carry was made after it was built.
    if (!sent)
        return false;
    store::IssuedStatement update(requireConnection(*this), store::kUpsertUpdateUnchangedNote);
    store::bindUnchangedUpdate(update.statement, note, *sent);
    return update.statement.exec() > 0;
}
