#include "StoreTestSupport.h"

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

TEST(NoteIdTest, Sha1HexMatchesKnownDigests)
{
    const std::pair<QString, const char *> vectors[] = {
        {QString(), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {QStringLiteral("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
        // A key text as made at creation: 36-character UUID, "-", ten digits.
        {QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F-1700000000"), "6212324f9ccd2be9cd6c9bc7f99e04eca39022ce"},
        {QString::fromUtf8("\xc3\xa9\xe6\x97\xa5\xe6\x9c\xac"), "e55eeff7fe0866f8fe443dc5f88b41202db7015d"},
    };
    for (const auto &[text, digest] : vectors)
        EXPECT_EQ(sha1Hex(text), QString::fromLatin1(digest)) << text.toStdString();
}

TEST(NoteIdTest, IdsAreLowerCaseHexAndDifferWithinOneSecond)
{
    const QRegularExpression form(QStringLiteral("^[0-9a-f]{40}$"));
    QSet<QString> seen;
    for (int i = 0; i < 1000; ++i) {
        const QString id = makeNoteId(1700000000);
        EXPECT_TRUE(form.match(id).hasMatch()) << id.toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000);
}

using NoteCreationTest = StoreTest;

TEST_F(NoteCreationTest, CreatedNoteIsAnEmptyPlainNote)
{
    const int64_t before = time(nullptr);
    QString id;
    const auto issued = StatementLog::during([&] { id = store.createNote(); });
    const int64_t after = time(nullptr);
    EXPECT_EQ(issued, std::vector<std::string>{
                              R"(INSERT INTO "notes" ("noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite", "filelink", "isbackup") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?))"});
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(id).hasMatch());

    const Note note = store.fetchNote(id);
    EXPECT_EQ(note.id, id);
    EXPECT_TRUE(note.content.isEmpty());
    EXPECT_EQ(note.type, 1);
    EXPECT_FALSE(note.isdeleted);
    EXPECT_EQ(note.isfavorite, 0);
    EXPECT_EQ(note.title, QString());
    EXPECT_EQ(note.filelink, QString());
    EXPECT_EQ(note.createdDate, note.lastModifiedDate);
    EXPECT_GE(note.createdDate, before);
    EXPECT_LE(note.createdDate, after);

    {
        auto db = openRaw();
        SQLite::Statement raw(*db, "SELECT typeof(content), length(content), isbackup FROM notes WHERE noteid = ?");
        raw.bind(1, id.toStdString());
        ASSERT_TRUE(raw.executeStep());
        EXPECT_EQ(raw.getColumn(0).getString(), "blob") << "an empty content is a zero-length blob, not NULL";
        EXPECT_EQ(raw.getColumn(1).getInt(), 0);
        EXPECT_EQ(raw.getColumn(2).getInt(), 0);
    } // its read lock would make the next insert fail: no busy time-out is set

    EXPECT_NE(store.createNote(), id);
    EXPECT_EQ(rowCount("notes"), 2);
}

TEST_F(NoteCreationTest, EachOperationInstallsItsOwnConnection)
{
    const DBManager::Connection fromSetup = store.db();
    store.createNote();
    const DBManager::Connection fromCreate = store.db();
    EXPECT_NE(fromCreate, fromSetup);
    store.fetchAllNotes();
    EXPECT_NE(store.db(), fromCreate);
    // The store let go of the replaced connections: only this test holds them.
    EXPECT_EQ(fromSetup.use_count(), 1);
    EXPECT_EQ(fromCreate.use_count(), 1);
}

TEST_F(NoteCreationTest, UnopenableFileInsertsNothingAndKeepsTheConnection)
{
    ASSERT_TRUE(QDir(tovikFolder()).removeRecursively());
    const DBManager::Connection before = store.db();
    EXPECT_EQ(sqliteErrorCode([&] { store.createNote(); }), SQLITE_CANTOPEN);
    EXPECT_EQ(store.db(), before);
    EXPECT_FALSE(QFileInfo::exists(tovikFolder())) << "note operations never create the folder";
}

} // namespace
