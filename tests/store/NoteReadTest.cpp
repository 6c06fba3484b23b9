#include "DBError.h"
#include "StoreTestSupport.h"

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QSet>

namespace {

const std::string kSelectById = R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)";

QStringList ids(const QList<Note> &notes)
{
    QStringList result;
    for (const Note &note : notes)
        result.append(note.id);
    return result;
}

using NoteReadTest = StoreTest;

TEST_F(NoteReadTest, EmptyTableGivesEmptyListsAndNoPurge)
{
    EXPECT_TRUE(store.fetchAllNotes().isEmpty());
    EXPECT_TRUE(store.fetchNotesForSync().isEmpty());
    EXPECT_FALSE(store.deleteLocallyDeletedNotes());
}

TEST_F(NoteReadTest, ListsFilterAndOrderNewestChangeFirst)
{
    insertRow(makeNote("old", "1", 1, false, 1, 100));
    insertRow(makeNote("gone", "2", 1, true, 1, 400));
    insertRow(makeNote("new", "3", 1, false, 1, 300));
    insertRow(makeNote("odd-mark", "4", 1, false, 1, 350));
    insertRow(makeNote("mid", "5", 1, false, 1, 200));
    openRaw()->exec("UPDATE notes SET isdeleted = 2 WHERE noteid = 'odd-mark'");

    std::vector<std::string> issued = StatementLog::during([&] {
        EXPECT_EQ(ids(store.fetchAllNotes()), (QStringList{"new", "mid", "old"}));
    });
    EXPECT_EQ(issued, std::vector<std::string>{
                              R"(SELECT * FROM "notes" WHERE NOT ("isdeleted") ORDER BY "lastmodifiedtime" DESC)"});

    QList<Note> forSync;
    issued = StatementLog::during([&] { forSync = store.fetchNotesForSync(); });
    EXPECT_EQ(issued, std::vector<std::string>{
                              R"(SELECT * FROM "notes" WHERE ("isbackup" = ?) ORDER BY "lastmodifiedtime" DESC)"});
    EXPECT_EQ(ids(forSync), (QStringList{"gone", "odd-mark", "new", "mid", "old"}));
    EXPECT_TRUE(forSync[0].isdeleted);
    EXPECT_TRUE(forSync[1].isdeleted) << "any non-zero mark reads as deleted";

    // Only the mark 1 is purged; unmarked rows and other marks stay.
    issued = StatementLog::during([&] { EXPECT_TRUE(store.deleteLocallyDeletedNotes()); });
    EXPECT_EQ(issued, std::vector<std::string>{R"(DELETE FROM "notes" WHERE ("isdeleted" = ?))"});
    EXPECT_EQ(ids(store.fetchNotesForSync()), (QStringList{"odd-mark", "new", "mid", "old"}));
    EXPECT_FALSE(store.deleteLocallyDeletedNotes());
}

TEST_F(NoteReadTest, OnlySoftDeletedNotesAreHiddenButStillSynced)
{
    insertRow(makeNote("a", "1", 1, true, 1, 10));
    insertRow(makeNote("b", "2", 1, true, 1, 10));
    EXPECT_TRUE(store.fetchAllNotes().isEmpty());
    const QList<Note> forSync = store.fetchNotesForSync();
    ASSERT_EQ(forSync.size(), 2);
    EXPECT_TRUE(forSync[0].isdeleted && forSync[1].isdeleted);
    // Equal change times: both come back, in whatever order the database has.
    const QStringList both = ids(forSync);
    EXPECT_EQ(QSet<QString>(both.begin(), both.end()), (QSet<QString>{"a", "b"}));
}

TEST_F(NoteReadTest, FetchNoteReturnsEveryFieldAsStored)
{
    const QByteArray binary("nul\0byte\xff", 9);
    const Note written = makeNote("n", binary, 7, true, -5, 1700000000123, "T\xc3\xadtulo", 5, "file:///x");
    insertRow(written);
    const auto issued = StatementLog::during([&] {
        const Note read = store.fetchNote("n");
        EXPECT_EQ(read.id, written.id);
        EXPECT_EQ(read.content, binary);
        EXPECT_EQ(read.type, 7) << "the type is never narrowed to a kind of note";
        EXPECT_TRUE(read.isdeleted) << "soft-deleted notes are still fetched";
        EXPECT_EQ(read.createdDate, -5);
        EXPECT_EQ(read.lastModifiedDate, 1700000000123);
        EXPECT_EQ(read.title, QString::fromUtf8("T\xc3\xadtulo"));
        EXPECT_EQ(read.isfavorite, 5);
        EXPECT_EQ(read.filelink, QStringLiteral("file:///x"));
    });
    EXPECT_EQ(issued, std::vector<std::string>{kSelectById});
}

TEST_F(NoteReadTest, UpsertInsertsNewNotesAsGiven)
{
    const Note server = makeNote("server-1", "[]", 2, false, 11, 22, "t", 1, "f");
    const auto issued = StatementLog::during([&] { store.upsertNote(server); });
    EXPECT_EQ(issued, (std::vector<std::string>{
                              kSelectById,
                              R"(INSERT INTO "notes" ("noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite", "filelink", "isbackup") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?))"}));
    const Note read = store.fetchNote("server-1");
    EXPECT_EQ(read.content, server.content);
    EXPECT_EQ(read.type, 2);
    EXPECT_EQ(read.createdDate, 11);
    EXPECT_EQ(read.lastModifiedDate, 22);
    EXPECT_EQ(read.title, QStringLiteral("t"));
    EXPECT_EQ(read.isfavorite, 1);
    EXPECT_EQ(read.filelink, QStringLiteral("f"));
    EXPECT_EQ(openRaw()->execAndGet("SELECT isbackup FROM notes").getInt64(), 0);
}

TEST_F(NoteReadTest, UpsertOverAnExistingNoteKeepsOnlyItsCreationTime)
{
    insertRow(makeNote("n", "local", 1, false, 50, 900, "", 0, ""));
    openRaw()->exec("UPDATE notes SET isbackup = 1");

    const Note server = makeNote("n", "", 1, true, 999, 300, "st", 1, "sf");
    const auto issued = StatementLog::during([&] { store.upsertNote(server); });
    EXPECT_EQ(issued, (std::vector<std::string>{
                              kSelectById,
                              R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ?, "isbackup" = ? WHERE ("noteid" = ?))"}));

    const Note read = store.fetchNote("n");
    EXPECT_EQ(read.createdDate, 50);
    EXPECT_EQ(read.lastModifiedDate, 300) << "the server's time, even when older";
    EXPECT_TRUE(read.content.isEmpty());
    EXPECT_TRUE(read.isdeleted);
    EXPECT_EQ(read.title, QStringLiteral("st"));
    EXPECT_EQ(read.isfavorite, 1);
    EXPECT_EQ(read.filelink, QStringLiteral("sf"));
    auto db = openRaw();
    EXPECT_EQ(db->execAndGet("SELECT isbackup FROM notes").getInt64(), 0);
    EXPECT_EQ(db->execAndGet("SELECT typeof(content) FROM notes").getString(), "blob");
    EXPECT_TRUE(store.fetchAllNotes().isEmpty()) << "a deleted server note is hidden from the grid";
}

TEST_F(NoteReadTest, UnopenableOrReplacedFileFailsWithTheDatabaseError)
{
    // The file removed while running: the open makes an empty one, and the
    // statements find no table.
    ASSERT_TRUE(QFile::remove(databaseFile()));
    EXPECT_EQ(sqliteErrorCode([&] { store.fetchAllNotes(); }), SQLITE_ERROR);
    EXPECT_EQ(sqliteErrorCode([&] { store.upsertNote(makeNote("n", "", 1, false, 1, 1)); }), SQLITE_ERROR);

    ASSERT_TRUE(QDir(tovikFolder()).removeRecursively());
    const DBManager::Connection before = store.db();
    EXPECT_EQ(sqliteErrorCode([&] { store.fetchNotesForSync(); }), SQLITE_CANTOPEN);
    EXPECT_EQ(sqliteErrorCode([&] { store.deleteLocallyDeletedNotes(); }), SQLITE_CANTOPEN);
    EXPECT_EQ(store.db(), before);
}

// Rows written by something else, without the schema's constraints.
class DamagedListTest : public TempHomeTest {};

struct DamagedCase {
    const char *column;
    std::string columns;
    std::string badRow;
};

TEST_F(DamagedListTest, ABadColumnFailsTheWholeRead)
{
    const std::string all = "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, isbackup";
    const std::string withoutFilelink = "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, isbackup";
    const DamagedCase cases[] = {
        {"title", all, "'bad', x'00', 1, 0, 1, 5, NULL, 0, '', 0"},
        {"noteid", all, "NULL, x'00', 1, 0, 1, 5, '', 0, '', 0"},
        {"type", all, "'bad', x'00', '1', 0, 1, 5, '', 0, '', 0"},
        {"createdtime", all, "'bad', x'00', 1, 0, 1.5, 5, '', 0, '', 0"},
        {"content", all, "'bad', 'text', 1, 0, 1, 5, '', 0, '', 0"},
        {"content", all, "'bad', NULL, 1, 0, 1, 5, '', 0, '', 0"},
        {"filelink", all, "'bad', x'00', 1, 0, 1, 5, '', 0, x'00', 0"},
        {"filelink", withoutFilelink, "'bad', x'00', 1, 0, 1, 5, '', 0, 0"},
    };
    for (const DamagedCase &c : cases) {
        SCOPED_TRACE(c.column + std::string(": ") + c.badRow);
        QFile::remove(databaseFile());
        // A good row that sorts first: a partial list would hold it.
        const std::string goodRow = c.columns == all ? "'good', x'00', 1, 0, 1, 9, '', 0, '', 0"
                                                     : "'good', x'00', 1, 0, 1, 9, '', 0, 0";
        writeFile({"CREATE TABLE notes (" + c.columns + ")", "INSERT INTO notes VALUES (" + goodRow + ")",
                   "INSERT INTO notes VALUES (" + c.badRow + ")"});

        const std::pair<const char *, std::function<void()>> reads[] = {
            {"fetchAllNotes", [&] { store.fetchAllNotes(); }},
            {"fetchNotesForSync", [&] { store.fetchNotesForSync(); }},
        };
        for (const auto &[name, read] : reads) {
            try {
                read();
                ADD_FAILURE() << name << " returned a list";
            } catch (const SQLite::Exception &error) {
                EXPECT_NE(std::string(error.what()).find(std::string("\"") + c.column + "\""), std::string::npos)
                        << name << ": " << error.what();
            }
        }
    }
}

TEST_F(DamagedListTest, TableWithoutRowsReadsAsEmptyWhateverColumnsItLacks)
{
    writeFile({"CREATE TABLE notes (noteid TEXT, content BLOB, isbackup INTEGER, isdeleted INTEGER, lastmodifiedtime INTEGER)"});
    EXPECT_TRUE(store.fetchAllNotes().isEmpty());
    EXPECT_TRUE(store.fetchNotesForSync().isEmpty());
    try {
        store.fetchNote("unknown");
        ADD_FAILURE() << "fetched";
    } catch (const DBError &error) {
        EXPECT_EQ(error, DBError::noteNotFound());
    }
}

TEST_F(DamagedListTest, BadRowFailsFetchNoteToo)
{
    writeFile({kCreateNotesSql});
    openRaw()->exec("INSERT INTO notes (noteid, content, createdtime, lastmodifiedtime, title) VALUES ('n', x'', 1, 1, x'33')");
    try {
        store.fetchNote("n");
        FAIL() << "fetched";
    } catch (const SQLite::Exception &error) {
        EXPECT_STREQ(error.what(), "column \"title\" holds BLOB where TEXT was expected");
        EXPECT_EQ(error.getErrorCode(), SQLITE_MISMATCH);
    }
}

} // namespace
