// Writing a sync reply: each note's row and its base (the revision agreed with
// the service) change together, and never over a change the user made while
// the request was out.

#include "ReplyWriter.h"
#include "StoreTestSupport.h"
#include "SyncBases.h"

#include <SQLiteCpp/Statement.h>

#include <functional>
#include <optional>

namespace {

using Outcome = ReplyWriter::Outcome;

const Note sent = makeNote("n", "line one\nline two", 1, false, 10, 100, "t", 0, "f");
// The service stored the sent copy as a new revision and sends it back.
const Note echoed = sent;
const Note merged = makeNote("n", "line one, theirs\nline two", 1, false, 10, 120, "t", 0, "f");
const Note deletedThere = makeNote("n", "", 1, true, 10, 150, "t", 0, "f");

class ReplyWriterTest : public StoreTest {
protected:
    std::optional<int64_t> baseOf(const QString &id) const
    {
        const auto bases = SyncBases::readAll(DBManager::databasePath());
        const auto it = bases.constFind(id);
        return it == bases.cend() ? std::nullopt : std::optional<int64_t>(*it);
    }
    void setBase(const QString &id, int64_t rev) const
    {
        auto db = openRaw();
        SyncBases::createTable(*db);
        SQLite::Statement insert(*db, R"(INSERT OR REPLACE INTO "syncbases" ("noteid", "rev") VALUES (?, ?))");
        insert.bind(1, id.toStdString());
        insert.bind(2, rev);
        insert.exec();
    }
    std::optional<Note> row(const QString &id)
    {
        for (const Note &note : store.fetchNotesForSync()) {
            if (note.id == id)
                return note;
        }
        return std::nullopt;
    }
    Outcome writeOne(const Note &server, std::optional<int64_t> rev, const Note *sentCopy)
    {
        ReplyWriter writer(DBManager::databasePath());
        writer.beginBatch();
        const Outcome outcome = writer.write(server, rev, sentCopy);
        writer.commitBatch();
        return outcome;
    }
};

// What the row holds when the reply arrives, relative to what was sent.
struct BaseCase {
    const char *name;
    std::optional<Note> localRow;   // absent: no row
    bool wasSent;
    std::optional<int64_t> baseBefore;
    Note reply;
    std::optional<int64_t> replyRev;
    Outcome outcome;
    std::optional<Note> rowAfter;
    std::optional<int64_t> baseAfter;
};

Note edited(Note note, std::function<void(Note &)> change)
{
    change(note);
    return note;
}

TEST_F(ReplyWriterTest, RowAndBaseFollowWhatTheUserDidMeanwhile)
{
    const Note localEdit = edited(sent, [](Note &n) {
        n.content += "\nline three, typed while the request was out";
        n.lastModifiedDate = 130;
    });
    const Note localDelete = edited(sent, [](Note &n) {
        n.isdeleted = true;
        n.lastModifiedDate = 130;
    });
    // The service respells a to-do list it merged; the items are the same.
    const Note todoSent = makeNote("n", R"([{"id":"0F6E1B52-5C3B-4E0D-9C6A-2B7D3E4F5A61","text":"milk","isCompleted":false}])", 2, false, 10, 100);
    const Note todoRespelled =
            makeNote("n", R"([ {"isCompleted": false, "text": "milk", "id": "0F6E1B52-5C3B-4E0D-9C6A-2B7D3E4F5A61"} ])", 2, false, 10, 100);
    const Note todoTicked = makeNote("n", R"([{"id":"0F6E1B52-5C3B-4E0D-9C6A-2B7D3E4F5A61","text":"milk","isCompleted":true}])", 2, false, 10, 140);

    const BaseCase cases[] = {
        {"new to this machine", std::nullopt, false, std::nullopt, merged, 4, Outcome::written, merged, 4},
        {"removed for good while out", std::nullopt, true, std::nullopt, merged, 4, Outcome::skipped, std::nullopt,
         std::nullopt},
        {"made while out", sent, false, std::nullopt, merged, 4, Outcome::skipped, sent, std::nullopt},
        {"unchanged, merge result", sent, true, 3, merged, 4, Outcome::written, merged, 4},
        {"unchanged, own copy stored", sent, true, std::nullopt, echoed, 1, Outcome::written, echoed, 1},
        {"edited, own copy stored: the edit derives from it", localEdit, true, 3, echoed, 4, Outcome::keptLocal,
         localEdit, 4},
        {"edited, merge result: the old base stays for the next merge", localEdit, true, 3, merged, 4,
         Outcome::keptLocal, localEdit, 3},
        {"edited, never synced, another copy", localEdit, true, std::nullopt, merged, 4, Outcome::keptLocal,
         localEdit, std::nullopt},
        {"deleted, own copy stored", localDelete, true, 3, echoed, 4, Outcome::keptLocal, localDelete, 4},
        {"deleted, merge result", localDelete, true, 3, merged, 4, Outcome::keptLocal, localDelete, 3},
        {"older service: no revision, base dropped", sent, true, 3, merged, std::nullopt, Outcome::written, merged,
         std::nullopt},
        {"older service, new note", std::nullopt, false, std::nullopt, merged, std::nullopt, Outcome::written,
         merged, std::nullopt},
        {"a base never moves back", sent, true, 7, merged, 5, Outcome::written, merged, 7},
        {"deleted elsewhere, unchanged here: gone with its base", sent, true, 3, deletedThere, 4, Outcome::written,
         std::nullopt, std::nullopt},
        {"deleted elsewhere, edited here: the edit stays", localEdit, true, 3, deletedThere, 4, Outcome::keptLocal,
         localEdit, 3},
        {"deleted elsewhere, never here", std::nullopt, false, std::nullopt, deletedThere, 4, Outcome::skipped,
         std::nullopt, std::nullopt},
        {"older service: a deletion is kept as a marker", sent, true, 3, deletedThere, std::nullopt,
         Outcome::written, deletedThere, std::nullopt},
        {"to-do ticked, own list respelled", todoTicked, true, 2, todoRespelled, 3, Outcome::keptLocal, todoTicked,
         3},
    };
    for (const BaseCase &c : cases) {
        SCOPED_TRACE(c.name);
        openRaw()->exec(R"(DELETE FROM "notes")");
        if (c.localRow)
            insertRow(*c.localRow);
        if (c.baseBefore)
            setBase("n", *c.baseBefore);
        const Note &sentCopy = c.reply.type == 2 ? todoSent : sent;

        EXPECT_EQ(writeOne(c.reply, c.replyRev, c.wasSent ? &sentCopy : nullptr), c.outcome);
        const std::optional<Note> after = row("n");
        ASSERT_EQ(after.has_value(), c.rowAfter.has_value());
        if (after) {
            expectSameEditableFields(*after, *c.rowAfter);
            EXPECT_EQ(after->lastModifiedDate, c.rowAfter->lastModifiedDate);
        }
        EXPECT_EQ(baseOf("n"), c.baseAfter);
    }
}

TEST_F(ReplyWriterTest, EveryWayARowGoesTakesItsBase)
{
    const std::pair<const char *, std::function<void()>> removals[] = {
        {"removed for good", [&] { store.deleteNotePermanently("n"); }},
        {"purge of the marked rows", [&] { store.deleteLocallyDeletedNotes(); }},
        {"purge of the deletions sent", [&] { store.deleteSentDeletedNotes({edited(sent, [](Note &n) { n.isdeleted = true; })}); }},
        {"purge in the reply's own transaction",
         [&] {
             ReplyWriter(DBManager::databasePath())
                     .purgeSentDeletedNotes({edited(sent, [](Note &n) { n.isdeleted = true; })});
         }},
    };
    for (const auto &[name, remove] : removals) {
        SCOPED_TRACE(name);
        insertRow(edited(sent, [](Note &n) { n.isdeleted = true; }));
        insertRow(makeNote("other", "stays", 1, false, 1, 1));
        setBase("n", 9);
        setBase("other", 2);
        remove();
        EXPECT_FALSE(row("n").has_value());
        EXPECT_EQ(baseOf("n"), std::nullopt);
        EXPECT_EQ(baseOf("other"), 2);
        openRaw()->exec(R"(DELETE FROM "notes")");
    }
}

TEST_F(ReplyWriterTest, AFailedBatchLeavesNoRowWithoutItsBase)
{
    ReplyWriter writer(DBManager::databasePath());
    openRaw()->exec(R"(CREATE TRIGGER refuse BEFORE INSERT ON "notes" WHEN NEW."noteid" = 'bad' BEGIN SELECT RAISE(ABORT, 'refused'); END)");
    writer.beginBatch();
    EXPECT_EQ(writer.write(makeNote("good", "x", 1, false, 1, 1), 3, nullptr), Outcome::written);
    EXPECT_THROW(writer.write(makeNote("bad", "x", 1, false, 1, 1), 3, nullptr), SQLite::Exception);
    writer.rollbackBatch();
    EXPECT_EQ(rowCount("notes"), 0);
    EXPECT_TRUE(SyncBases::readAll(DBManager::databasePath()).isEmpty());
}

TEST_F(ReplyWriterTest, AFileWithoutTheTableHasNoBasesAndGetsItOnce)
{
    EXPECT_TRUE(SyncBases::readAll(DBManager::databasePath()).isEmpty());
    SyncBases::createTable(DBManager::databasePath());
    setBase("n", 1);
    SyncBases::createTable(DBManager::databasePath());
    EXPECT_EQ(baseOf("n"), 1) << "a second start keeps the bases";
    EXPECT_EQ(tableSql("syncbases"),
              R"(CREATE TABLE "syncbases" ("noteid" TEXT PRIMARY KEY NOT NULL, "rev" INTEGER NOT NULL))");
    EXPECT_EQ(tableSql("notes"), kCreateNotesSql);
}

} // namespace
