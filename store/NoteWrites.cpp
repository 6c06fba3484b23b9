#include "NoteWrites.h"

#include "StoreStatement.h"

namespace store {

namespace {

// A row is unchanged since it was sent when every field a local change writes
// still holds the sent value: the deletion mark, then the six columns that
// bindUnchangedSinceSent() binds.
constexpr const char *kPurgeSentDeletedNotesHead =
        R"(DELETE FROM "notes" WHERE ("isdeleted" = ?) AND (("noteid", "content", "type", "lastmodifiedtime", "title", "isfavorite", "filelink") IN (VALUES )";
constexpr const char *kPurgeSentDeletedNotesRow = "(?, ?, ?, ?, ?, ?, ?)";
constexpr const char *kPurgeSentDeletedNotesTail = R"()) RETURNING "noteid")";

// Binds the six values of the condition above from `first` on.
void bindUnchangedSinceSent(SQLite::Statement &statement, int first, const Note &sent)
{
    bindBlob(statement, first, sent.content);
    statement.bind(first + 1, sent.type);
    statement.bind(first + 2, sent.lastModifiedDate);
    bindText(statement, first + 3, sent.title);
    statement.bind(first + 4, sent.isfavorite);
    bindText(statement, first + 5, sent.filelink);
}

} // namespace

void bindNewRow(SQLite::Statement &insert, const Note &note)
{
    bindText(insert, 1, note.id);
    bindBlob(insert, 2, note.content);
    insert.bind(3, note.type);
    bindBool(insert, 4, note.isdeleted);
    insert.bind(5, note.createdDate);
    insert.bind(6, note.lastModifiedDate);
    bindText(insert, 7, note.title);
    insert.bind(8, note.isfavorite);
    bindText(insert, 9, note.filelink);
    insert.bind(10, static_cast<int64_t>(0));
}

void bindServerFields(SQLite::Statement &update, const Note &note)
{
    bindBlob(update, 1, note.content);
    update.bind(2, note.type);
    bindBool(update, 3, note.isdeleted);
    update.bind(4, note.lastModifiedDate);
    bindText(update, 5, note.title);
    update.bind(6, note.isfavorite);
    bindText(update, 7, note.filelink);
    update.bind(8, static_cast<int64_t>(0));
    bindText(update, 9, note.id);
}

void bindUnchangedUpdate(SQLite::Statement &update, const Note &server, const Note &sent)
{
    bindServerFields(update, server);
    bindBool(update, 10, sent.isdeleted);
    bindUnchangedSinceSent(update, 11, sent);
}

std::string purgeSentDeletedStatement(qsizetype count)
{
    std::string sql = kPurgeSentDeletedNotesHead;
    for (qsizetype i = 0; i < count; ++i)
        sql += (i == 0 ? "" : ", ") + std::string(kPurgeSentDeletedNotesRow);
    return sql + kPurgeSentDeletedNotesTail;
}

void bindPurge(SQLite::Statement &purge, const Note *first, qsizetype count)
{
    purge.bind(1, static_cast<int64_t>(1));
    int index = 2;
    for (qsizetype i = 0; i < count; ++i) {
        bindText(purge, index, first[i].id);
        bindUnchangedSinceSent(purge, index + 1, first[i]);
        index += 7;
    }
}

} // namespace store
