// The two writes of a sync reply: each touches a row only when it still holds
// what the request carried.

#include "DBError.h"
#include "StoreTestSupport.h"

#include <functional>

namespace {

const std::string kSelectById = R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)";

using SyncApplyTest = StoreTest;

// The note as the request carried it, and the server's copy.
const Note sentLive = makeNote("n", "as sent", 1, false, 10, 100, "t", 0, "f");
const Note sentDeleted = makeNote("n", "as sent", 1, true, 10, 100, "t", 0, "f");
const Note serverCopy = makeNote("n", "server", 2, false, 99, 50, "st", 1, "sf");

// One local change after the request was built, each to one field it writes.
struct LocalChange {
    const char *field;
    std::function<void(Note &)> change;
};
const LocalChange kLocalChanges[] = {
    {"content", [](Note &n) { n.content = "edited"; }},
    {"type", [](Note &n) { n.type = 2; }},
    {"isdeleted", [](Note &n) { n.isdeleted = !n.isdeleted; }},
    // A change within the same second as the sent one shows in another field;
    // this one is a change that moved only the time.
    {"lastmodifiedtime", [](Note &n) { n.lastModifiedDate += 1; }},
    {"title", [](Note &n) { n.title = "other"; }},
    {"isfavorite", [](Note &n) { n.isfavorite = 1; }},
    {"filelink", [](Note &n) { n.filelink = "other"; }},
};

void expectSameRow(const Note &read, const Note &expected)
{
    expectSameEditableFields(read, expected);
    EXPECT_EQ(read.createdDate, expected.createdDate);
    EXPECT_EQ(read.lastModifiedDate, expected.lastModifiedDate);
}

TEST_F(SyncApplyTest, UnchangedRowTakesTheServerCopyInOneStatement)
{
    insertRow(sentLive);
    bool written = false;
    const auto issued = StatementLog::during([&] { written = store.upsertNoteIfUnchanged(serverCopy, sentLive); });
    EXPECT_TRUE(written);
    EXPECT_EQ(issued, (std::vector<std::string>{
                              kSelectById,
                              R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ?, "isbackup" = ? WHERE ("noteid" = ?) AND (("isdeleted" != 0) = ?) AND ("content" = ?) AND ("type" = ?) AND ("lastmodifiedtime" = ?) AND ("title" = ?) AND ("isfavorite" = ?) AND ("filelink" = ?))"}));
    Note expected = serverCopy;
    expected.createdDate = sentLive.createdDate; // kept, as by every upsert
    expectSameRow(store.fetchNote("n"), expected);
}

TEST_F(SyncApplyTest, RowChangedSinceItWasSentKeepsTheChange)
{
    for (const LocalChange &c : kLocalChanges) {
        SCOPED_TRACE(c.field);
        Note local = sentLive;
        c.change(local);
        insertRow(local);
        EXPECT_FALSE(store.upsertNoteIfUnchanged(serverCopy, sentLive));
        expectSameRow(store.fetchNote("n"), local);
        store.deleteNotePermanently("n");
    }
}

TEST_F(SyncApplyTest, AbsentOrUnsentRowsFollowWhetherTheNoteWentOut)
{
    // Never here and never sent: a note of the service's, inserted whole.
    EXPECT_TRUE(store.upsertNoteIfUnchanged(serverCopy, std::nullopt));
    expectSameRow(store.fetchNote("n"), serverCopy);

    // Sent, then removed for good: stays gone.
    store.deleteNotePermanently("n");
    EXPECT_FALSE(store.upsertNoteIfUnchanged(serverCopy, sentLive));
    EXPECT_THROW(store.fetchNote("n"), DBError);

    // Made after the request was built: stays as made.
    insertRow(sentLive);
    EXPECT_FALSE(store.upsertNoteIfUnchanged(serverCopy, std::nullopt));
    expectSameRow(store.fetchNote("n"), sentLive);
}

TEST_F(SyncApplyTest, OnlyDeletionsSentAndUnchangedSinceArePurged)
{
    insertRow(sentDeleted);
    insertRow(makeNote("live", "x", 1, false, 1, 1));
    insertRow(makeNote("marked later", "x", 1, true, 1, 1));
    QStringList removed;
    const auto issued = StatementLog::during([&] {
        removed = store.deleteSentDeletedNotes({sentDeleted, makeNote("live", "x", 1, false, 1, 1)});
    });
    EXPECT_EQ(removed, QStringList{"n"});
    EXPECT_EQ(issued, std::vector<std::string>{
                              R"(DELETE FROM "notes" WHERE ("isdeleted" = ?) AND (("noteid", "content", "type", "lastmodifiedtime", "title", "isfavorite", "filelink") IN (VALUES (?, ?, ?, ?, ?, ?, ?))) RETURNING "noteid")"});
    // Deleted after the request was built, or never marked: both stay.
    EXPECT_EQ(rowCount("notes"), 2);

    for (const LocalChange &c : kLocalChanges) {
        SCOPED_TRACE(c.field);
        Note local = sentDeleted;
        c.change(local);
        insertRow(local);
        EXPECT_EQ(store.deleteSentDeletedNotes({sentDeleted}), QStringList());
        expectSameRow(store.fetchNote("n"), local);
        store.deleteNotePermanently("n");
    }
}

TEST_F(SyncApplyTest, ManyDeletionsArePurgedWhateverTheirNumber)
{
    // More than one statement's worth; every third one changed since it went.
    QList<Note> sent;
    QStringList expected;
    auto db = openRaw();
    db->exec("BEGIN");
    for (int i = 0; i < 1201; ++i) {
        const Note note = makeNote(QStringLiteral("d%1").arg(i), "x", 1, true, 1, 100);
        sent.append(note);
        Note local = note;
        if (i % 3 == 0)
            local.lastModifiedDate = 101;
        else
            expected.append(note.id);
        SQLite::Statement insert(*db, "INSERT INTO notes (noteid, content, type, isdeleted, createdtime, "
                                      "lastmodifiedtime) VALUES (?, x'78', 1, 1, 1, ?)");
        insert.bind(1, local.id.toStdString());
        insert.bind(2, local.lastModifiedDate);
        insert.exec();
    }
    db->exec("COMMIT");

    QStringList removed = store.deleteSentDeletedNotes(sent);
    removed.sort();
    expected.sort();
    EXPECT_EQ(removed, expected);
    EXPECT_EQ(rowCount("notes"), 1201 - expected.size());
}

TEST_F(SyncApplyTest, OnlyTheMarkOneIsPurged)
{
    insertRow(sentDeleted);
    openRaw()->exec("UPDATE notes SET isdeleted = 2");
    EXPECT_EQ(store.deleteSentDeletedNotes({sentDeleted}), QStringList());
    EXPECT_EQ(rowCount("notes"), 1);
}

} // namespace
