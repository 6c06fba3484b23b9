#include "ReplyWriter.h"

#include "DBManager.h"
#include "ItemType.h"
#include "NoteWrites.h"
#include "StoreStatement.h"
#include "SyncBases.h"
#include "TextEquality.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <algorithm>

namespace {

// Revisions only grow: a base is never moved back, which a reply that was
// overtaken by a later sync's could otherwise do.
constexpr const char *kSetBase =
        R"(INSERT INTO "syncbases" ("noteid", "rev") VALUES (?, ?) ON CONFLICT ("noteid") DO UPDATE SET "rev" = excluded."rev" WHERE excluded."rev" > "syncbases"."rev")";
constexpr const char *kDropBase = R"(DELETE FROM "syncbases" WHERE ("noteid" = ?))";
constexpr const char *kDeleteNote = R"(DELETE FROM "notes" WHERE ("noteid" = ?))";
const std::string kInsertIfAbsent = std::string(store::kInsertNote) + R"( ON CONFLICT ("noteid") DO NOTHING)";

} // namespace

bool sameUserFields(const Note &a, const Note &b)
{
    if (a.type != b.type || a.isdeleted != b.isdeleted || a.isfavorite != b.isfavorite || !sameText(a.title, b.title)
        || !sameText(a.filelink, b.filelink))
        return false;
    if (a.content == b.content)
        return true;
    return a.type == rawValue(ItemType::todo) && compareTodoItems(a.content, b.content);
}

ReplyWriter::ReplyWriter(const QString &databasePath) : m_db(SyncBases::openStoreFile(databasePath))
{
    SyncBases::createTable(*m_db);
    // A large reply touches every page of both tables' indexes; with SQLite's
    // default 2 MB cache each batch would read them from the file again.
    m_db->exec("PRAGMA cache_size = -65536");
    m_exists = std::make_unique<SQLite::Statement>(*m_db, store::kSelectNoteById);
    m_insertIfAbsent = std::make_unique<SQLite::Statement>(*m_db, kInsertIfAbsent);
    m_guardedUpdate = std::make_unique<SQLite::Statement>(*m_db, store::kUpsertUpdateUnchangedNote);
    m_setBase = std::make_unique<SQLite::Statement>(*m_db, kSetBase);
    m_dropBase = std::make_unique<SQLite::Statement>(*m_db, kDropBase);
    m_delete = std::make_unique<SQLite::Statement>(*m_db, kDeleteNote);
}

ReplyWriter::~ReplyWriter()
{
    rollbackBatch();
}

QStringList ReplyWriter::purgeSentDeletedNotes(const QList<Note> &sent)
{
    QList<Note> deleted;
    for (const Note &note : sent) {
        if (note.isdeleted)
            deleted.append(note);
    }
    QStringList removed;
    if (deleted.isEmpty())
        return removed;
    beginBatch();
    try {
        // The comparison and the removal are one statement, so an edit can
        // never fall between them.
        for (qsizetype first = 0; first < deleted.size(); first += store::kPurgeBatch) {
            const qsizetype count = std::min(store::kPurgeBatch, deleted.size() - first);
            SQLite::Statement purge(*m_db, store::purgeSentDeletedStatement(count));
            store::bindPurge(purge, deleted.constData() + first, count);
            while (purge.executeStep())
                removed.append(store::readText(purge, 0));
        }
        commitBatch();
    } catch (...) {
        rollbackBatch();
        throw;
    }
    return removed;
}

void ReplyWriter::beginBatch()
{
    // The write lock is taken at once: a read that turned into a write later
    // could fail at once against the window's save instead of waiting.
    m_db->exec("BEGIN IMMEDIATE TRANSACTION");
    m_inBatch = true;
    m_batchStart = std::chrono::steady_clock::now();
}

bool ReplyWriter::batchIsFull() const
{
    return m_inBatch && std::chrono::steady_clock::now() - m_batchStart >= maxHold;
}

void ReplyWriter::commitBatch()
{
    m_db->exec("COMMIT TRANSACTION");
    m_inBatch = false;
}

void ReplyWriter::rollbackBatch() noexcept
{
    if (!m_inBatch)
        return;
    m_inBatch = false;
    try {
        m_db->exec("ROLLBACK TRANSACTION");
    } catch (...) {
        // SQLite has already rolled back after the failure that brought us here.
    }
}

void ReplyWriter::recordBase(const QString &noteId, std::optional<int64_t> rev)
{
    SQLite::Statement &statement = rev ? *m_setBase : *m_dropBase;
    statement.reset();
    statement.clearBindings();
    store::bindText(statement, 1, noteId);
    if (rev)
        statement.bind(2, *rev);
    statement.exec();
}

ReplyWriter::Outcome ReplyWriter::write(const Note &server, std::optional<int64_t> rev, const Note *sent)
{
    // A note the request did not carry is stored only where no row is, which
    // one statement tells: most of a large reply is notes new here.
    const bool settledDeletion = server.isdeleted && rev;
    if (!sent && !settledDeletion) {
        m_insertIfAbsent->reset();
        store::bindNewRow(*m_insertIfAbsent, server);
        if (m_insertIfAbsent->exec() == 0)
            return Outcome::skipped; // made after the request was built
        recordBase(server.id, rev);
        return Outcome::written;
    }

    m_exists->reset();
    store::bindText(*m_exists, 1, server.id);
    const bool exists = m_exists->executeStep();
    m_exists->reset();

    // A deletion the service recorded at a revision needs no marker here:
    // sent back, it would only be accepted and purged at the next sync, so
    // machines would hold different rows until then.
    // A note that went out and is gone now was removed by the user.
    if (!exists)
        return Outcome::skipped;
    // A row the request did not carry was made after it was built.
    if (!sent)
        return Outcome::skipped;

    m_guardedUpdate->reset();
    store::bindUnchangedUpdate(*m_guardedUpdate, server, *sent);
    if (m_guardedUpdate->exec() > 0) {
        if (settledDeletion) {
            // Its base goes with it (trigger).
            m_delete->reset();
            store::bindText(*m_delete, 1, server.id);
            m_delete->exec();
        } else {
            recordBase(server.id, rev);
        }
        return Outcome::written;
    }
    // Changed since it was sent. When the service stored exactly the sent
    // copy, the user's change was made on top of that revision. Any other
    // copy (a merge, another machine's) is not what the change derives from:
    // the old base stays, so the next sync merges the change into it.
    if (rev && sameUserFields(server, *sent))
        recordBase(server.id, rev);
    return Outcome::keptLocal;
}
