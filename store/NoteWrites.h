#pragma once

// Internal to the store: the statements that write a server note, shared by
// DBManager's one-note-per-connection operations and ReplyWriter's batches.

#include "Note.h"

#include <SQLiteCpp/Statement.h>

#include <QtGlobal>
#include <string>

namespace store {

inline constexpr const char *kInsertNote =
        R"(INSERT INTO "notes" ("noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite", "filelink", "isbackup") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?))";
inline constexpr const char *kSelectNoteById = R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)";
inline constexpr const char *kUpsertUpdateUnchangedNote =
        R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ?, "isbackup" = ? WHERE ("noteid" = ?) AND (("isdeleted" != 0) = ?) AND ("content" = ?) AND ("type" = ?) AND ("lastmodifiedtime" = ?) AND ("title" = ?) AND ("isfavorite" = ?) AND ("filelink" = ?))";

// Notes per purge statement: 7 values each stays far below SQLite's limit on
// bound values, and each statement is one commit instead of one per note.
inline constexpr qsizetype kPurgeBatch = 500;

// Binds the ten columns of a new row, "isbackup" last and always 0.
void bindNewRow(SQLite::Statement &insert, const Note &note);
// The server's fields over an existing row, "createdtime" kept; binds the
// UPDATE's values up to and including the identifier (1 to 9).
void bindServerFields(SQLite::Statement &update, const Note &note);
// Binds the whole guarded UPDATE: the server's fields, then the sent copy
// every compared column must still hold.
void bindUnchangedUpdate(SQLite::Statement &update, const Note &server, const Note &sent);

// The DELETE that removes `count` sent deleted notes where each row still holds
// what was sent, giving the removed identifiers; bindPurge() fills it.
std::string purgeSentDeletedStatement(qsizetype count);
void bindPurge(SQLite::Statement &purge, const Note *first, qsizetype count);

} // namespace store
