#include "Console.h"
#include "DBError.h"
#include "StoreTestSupport.h"
#include "TodoItem.h"

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>

#include <QFile>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

const QString kId = QStringLiteral("note-1");
constexpr int64_t kOldTime = 100;

const QByteArray kListAB = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","text":"a","isCompleted":false},)"
                           R"({"id":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427","text":"b","isCompleted":true}])";
// The same items, spelled differently: spaces, key order, lower-case ids.
const QByteArray kListABRespelled =
        R"([ {"text":"a","isCompleted":false,"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"},)"
        R"( {"isCompleted":true,"id":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","text":"b"} ])";
const QByteArray kListBA = R"([{"id":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427","text":"b","isCompleted":true},)"
                           R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","text":"a","isCompleted":false}])";
const QByteArray kListPrecomposed = "[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\"text\":\"caf\xc3\xa9\",\"isCompleted\":false}]";
const QByteArray kListDecomposed = "[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\"text\":\"cafe\xcc\x81\",\"isCompleted\":false}]";

const std::string kSelectById = R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)";
const std::string kSaveUpdate =
        R"(UPDATE "notes" SET "content" = ?, "type" = ?, "isdeleted" = ?, "lastmodifiedtime" = ?, "title" = ?, "isfavorite" = ?, "filelink" = ? WHERE ("noteid" = ?))";

struct SaveArgs {
    QByteArray content;
    int64_t type;
    bool isdeleted;
    QString title;
    int64_t isfavorite;
    QString filelink;
};

struct SaveCase {
    const char *name;
    Note stored;
    SaveArgs save;
    bool writes;
    bool printsCompareError;
};

Note stored(const QByteArray &content, int64_t type, bool isdeleted = false, const QString &title = {},
            int64_t isfavorite = 0, const QString &filelink = {})
{
    return makeNote(kId, content, type, isdeleted, 50, kOldTime, title, isfavorite, filelink);
}

class NoteEditTest : public StoreTest {
protected:
    void resetTime() const { openRaw()->exec("UPDATE notes SET lastmodifiedtime = 100"); }
};

TEST_F(NoteEditTest, SaveWritesOnlyWhenTheContentCountsAsChanged)
{
    const SaveCase cases[] = {
        {"all seven equal", stored("hello", 1, false, "t", 1, "f"), {"hello", 1, false, "t", 1, "f"}, false, false},
        {"only the title", stored("hello", 1), {"hello", 1, false, "new title", 0, ""}, false, false},
        {"only the favourite mark", stored("hello", 1), {"hello", 1, false, "", 1, ""}, false, false},
        {"only the file link", stored("hello", 1), {"hello", 1, false, "", 0, "link"}, false, false},
        {"only the deletion mark", stored("hello", 1, true), {"hello", 1, false, "", 0, ""}, false, false},
        {"only the type", stored("hello", 1), {"hello", 7, false, "", 0, ""}, false, false},
        {"plain save over a to-do list with its bytes", stored(kListAB, 2), {kListAB, 1, false, "", 0, ""}, false, false},
        {"changed text", stored("hello", 1, false, "t", 1, "f"), {"hello!", 1, false, "", 1, ""}, true, false},
        {"changed text revives a deleted note", stored("hello", 1, true), {"bye", 1, false, "", 0, ""}, true, false},
        {"text emptied", stored("hello", 1), {"", 1, false, "", 0, ""}, true, false},
        {"same list respelled", stored(kListAB, 2), {kListABRespelled, 2, false, "", 0, ""}, false, false},
        {"same list, decomposed text", stored(kListPrecomposed, 2), {kListDecomposed, 2, false, "x", 0, ""}, false, false},
        {"same items reordered", stored(kListAB, 2), {kListBA, 2, false, "", 0, ""}, true, false},
        {"item ticked", stored(kListAB, 2),
         {QByteArray(kListAB).replace("\"isCompleted\":false", "\"isCompleted\":true"), 2, false, "", 0, ""}, true, false},
        {"empty to-do content, other title", stored("", 2, false, "t"), {"", 2, false, "", 0, ""}, true, true},
        {"undecodable to-do content, same bytes", stored("hello", 1), {"hello", 2, false, "", 0, ""}, true, true},
    };
    for (const SaveCase &c : cases) {
        SCOPED_TRACE(c.name);
        openRaw()->exec("DELETE FROM notes");
        insertRow(c.stored);

        testing::internal::CaptureStdout();
        std::vector<std::string> issued;
        bool result = false;
        try {
            issued = StatementLog::during([&] {
                result = store.saveNote(kId, c.save.content, c.save.type, c.save.isdeleted, c.save.title,
                                        c.save.isfavorite, c.save.filelink);
            });
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(result);

        const Note after = store.fetchNote(kId);
        const Note expected = c.writes ? makeNote(kId, c.save.content, c.save.type, c.save.isdeleted, 50, 0,
                                                  c.save.title, c.save.isfavorite, c.save.filelink)
                                       : c.stored;
        expectSameEditableFields(after, expected);
        if (c.writes) {
            EXPECT_EQ(issued, (std::vector<std::string>{kSelectById, kSaveUpdate}));
            EXPECT_GT(after.lastModifiedDate, kOldTime);
        } else {
            EXPECT_EQ(issued, std::vector<std::string>{kSelectById});
            EXPECT_EQ(after.lastModifiedDate, kOldTime);
        }
        EXPECT_EQ(after.createdDate, 50);
        if (c.printsCompareError) {
            EXPECT_EQ(printed.rfind("Error comparing TodoItems: ", 0), 0u) << printed;
            EXPECT_GT(printed.size(), std::string("Error comparing TodoItems: \n").size()) << "decoder text missing";
            EXPECT_EQ(printed.back(), '\n');
        } else {
            EXPECT_EQ(printed, "");
        }
    }
}

TEST_F(NoteEditTest, CompareTodoItemsPrintsTheDecoderError)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(compareTodoItems(kListAB, "[1]"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error comparing TodoItems: Expected an object at index 0\n");

    testing::internal::CaptureStdout();
    EXPECT_FALSE(compareTodoItems(kListAB, kListPrecomposed)) << "lengths differ";
    EXPECT_TRUE(compareTodoItems(kListAB, kListABRespelled));
    EXPECT_FALSE(compareTodoItems(kListAB, "[]"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "lists that decode print nothing";
}

TEST_F(NoteEditTest, RejectedTextWithLineBreaksStaysOnOneLine)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(compareTodoItems(kListAB, R"([{"id":"not\na\r\nuuid","text":"x","isCompleted":false}])"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error comparing TodoItems: Invalid UUID string \"not\\na\\r\\nuuid\" at index 0\n");
}

// A reader on another connection (a sync's store read on its worker thread)
// holds the file's shared lock; the save waits for it instead of failing.
TEST_F(NoteEditTest, SaveWaitsForAReaderOnAnotherConnection)
{
    insertRow(stored("hello", 1));
    auto reader = openRaw();
    reader->exec("BEGIN");
    SQLite::Statement read(*reader, "SELECT * FROM notes");
    ASSERT_TRUE(read.executeStep());

    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        read.reset();
        reader->exec("COMMIT");
    });
    EXPECT_NO_THROW(store.saveNote(kId, "typed while syncing", 1, false, "", 0, ""));
    releaser.join();
    EXPECT_EQ(store.fetchNote(kId).content, QByteArray("typed while syncing"));
}

TEST_F(NoteEditTest, SoftDeleteMarksAndMovesTheTimeEachTime)
{
    insertRow(stored("hello", 1));
    for (int round = 0; round < 2; ++round) {
        resetTime();
        const auto issued = StatementLog::during([&] { EXPECT_TRUE(store.deleteNote(kId)); });
        EXPECT_EQ(issued, std::vector<std::string>{
                                  R"(UPDATE "notes" SET "isdeleted" = ?, "lastmodifiedtime" = ? WHERE ("noteid" = ?))"});
        const Note note = store.fetchNote(kId);
        EXPECT_TRUE(note.isdeleted);
        EXPECT_GT(note.lastModifiedDate, kOldTime);
        EXPECT_EQ(note.content, QByteArray("hello"));
    }
}

TEST_F(NoteEditTest, FavouriteStoresTheIntegerAsGiven)
{
    insertRow(stored("hello", 1));
    for (int64_t mark : {5, 1, 0}) {
        resetTime();
        const auto issued = StatementLog::during([&] { EXPECT_TRUE(store.updateFavoriteStatus(kId, mark)); });
        EXPECT_EQ(issued, std::vector<std::string>{
                                  R"(UPDATE "notes" SET "isfavorite" = ?, "lastmodifiedtime" = ? WHERE ("noteid" = ?))"});
        const Note note = store.fetchNote(kId);
        EXPECT_EQ(note.isfavorite, mark);
        EXPECT_GT(note.lastModifiedDate, kOldTime);
    }
}

TEST_F(NoteEditTest, PermanentDeleteRemovesTheRowOnce)
{
    insertRow(stored("hello", 1));
    insertRow(makeNote("other", "x", 1, false, 1, 1));
    const auto issued = StatementLog::during([&] { EXPECT_TRUE(store.deleteNotePermanently(kId)); });
    EXPECT_EQ(issued, std::vector<std::string>{R"(DELETE FROM "notes" WHERE ("noteid" = ?))"});
    EXPECT_EQ(rowCount("notes"), 1);
    EXPECT_THROW(store.deleteNotePermanently(kId), DBError);
}

TEST_F(NoteEditTest, UnknownIdentifierIsNoteNotFoundAndWritesNothing)
{
    insertRow(stored("hello", 1));
    const std::pair<const char *, std::function<void()>> calls[] = {
        {"save", [&] { store.saveNote("missing", "new", 1, false, "", 0, ""); }},
        {"soft delete", [&] { store.deleteNote("missing"); }},
        {"favourite", [&] { store.updateFavoriteStatus("missing", 1); }},
        {"permanent delete", [&] { store.deleteNotePermanently("missing"); }},
        {"fetch", [&] { store.fetchNote("missing"); }},
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const DBError &error) {
            EXPECT_EQ(error, DBError::noteNotFound());
            EXPECT_EQ(errorDescription(error), QStringLiteral("noteNotFound"));
        }
        const Note kept = store.fetchNote(kId);
        EXPECT_EQ(kept.content, QByteArray("hello"));
        EXPECT_EQ(kept.lastModifiedDate, kOldTime);
        EXPECT_EQ(rowCount("notes"), 1);
    }
}

// A file written by something else, with none of the schema's constraints.
class DamagedRowTest : public TempHomeTest {
protected:
    void writeLaxFile(const std::string &columns, const std::string &values) const
    {
        writeFile({kCreateUserSql, "CREATE TABLE notes (" + columns + ")",
                   "INSERT INTO notes VALUES (" + values + ")"});
    }
};

struct DamagedCase {
    const char *column;
    std::string columns;
    std::string values;
};

const std::string kLaxColumns = "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, isbackup";

const DamagedCase kDamagedSaveCases[] = {
    {"type", kLaxColumns, "'note-1', x'6869', 'one', 0, 1, 100, '', 0, '', 0"},
    {"content", kLaxColumns, "'note-1', 'hi', 1, 0, 1, 100, '', 0, '', 0"},
    {"isfavorite", kLaxColumns, "'note-1', x'6869', 1, 0, 1, 100, '', 0.5, '', 0"},
    {"filelink", "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite",
     "'note-1', x'6869', 1, 0, 1, 100, '', 0"},
};

TEST_F(DamagedRowTest, SaveFailsNamingTheColumnAndWritesNothing)
{
    for (const DamagedCase &c : kDamagedSaveCases) {
        SCOPED_TRACE(c.column);
        QFile::remove(databaseFile());
        writeLaxFile(c.columns, c.values);
        try {
            store.saveNote(kId, "changed", 1, false, "", 0, "");
            ADD_FAILURE() << "save succeeded";
        } catch (const SQLite::Exception &error) {
            EXPECT_NE(std::string(error.what()).find(std::string("\"") + c.column + "\""), std::string::npos)
                    << error.what();
        }
        EXPECT_EQ(openRaw()->execAndGet("SELECT lastmodifiedtime FROM notes").getInt64(), kOldTime);
    }
}

// Another program may leave NULL where the schema forbids it. The save
// compares as usual, a NULL equal to nothing, and writes when the content
// differs: the row is repaired instead of the edit being lost.
struct NullCase {
    const char *column;
    const char *values;
    QByteArray content;
    bool written;
};

const NullCase kNullSaveCases[] = {
    {"title, content changed", "'note-1', x'6869', 1, 0, 1, 100, NULL, 0, '', 0", "changed", true},
    {"title, same content", "'note-1', x'6869', 1, 0, 1, 100, NULL, 0, '', 0", "hi", false},
    {"content", "'note-1', NULL, 1, 0, 1, 100, '', 0, '', 0", "hi", true},
    {"type, same content", "'note-1', x'6869', NULL, 0, 1, 100, '', 0, '', 0", "hi", false},
    {"isdeleted, content changed", "'note-1', x'6869', 1, NULL, 1, 100, '', 0, '', 0", "changed", true},
    {"filelink and isfavorite, content changed", "'note-1', x'6869', 1, 0, 1, 100, '', NULL, NULL, 0", "changed", true},
};

TEST_F(DamagedRowTest, SaveOverNullComparesInOrderAndWritesChangedContent)
{
    for (const NullCase &c : kNullSaveCases) {
        SCOPED_TRACE(c.column);
        QFile::remove(databaseFile());
        writeLaxFile(kLaxColumns, c.values);
        EXPECT_TRUE(store.saveNote(kId, c.content, 1, false, "", 0, ""));
        const auto raw = openRaw();
        SQLite::Statement row(*raw, "SELECT content, title, isfavorite, filelink, isdeleted, lastmodifiedtime FROM notes");
        ASSERT_TRUE(row.executeStep());
        if (c.written) {
            EXPECT_EQ(QByteArray(static_cast<const char *>(row.getColumn(0).getBlob()), row.getColumn(0).getBytes()),
                      c.content);
            for (int column = 1; column <= 4; ++column)
                EXPECT_FALSE(row.getColumn(column).isNull()) << row.getColumnName(column);
            EXPECT_NE(row.getColumn(5).getInt64(), kOldTime);
        } else {
            EXPECT_EQ(row.getColumn(5).getInt64(), kOldTime);
        }
    }
}

TEST(ErrorDescriptionTest, NamesEachKindOfError)
{
    EXPECT_EQ(errorDescription(DBError::databaseNotInitialized()), QStringLiteral("databaseNotInitialized"));
    EXPECT_EQ(errorDescription(DBError::userNotFound()), QStringLiteral("userNotFound"));
    EXPECT_EQ(errorDescription(SQLite::Exception("database is locked", 5)), QStringLiteral("database is locked (code: 5)"));
    EXPECT_EQ(errorDescription(std::runtime_error("plain")), QStringLiteral("plain"));
}

TEST_F(NoteEditTest, ConstraintErrorsCarryTheExtendedCode)
{
    insertRow(stored("hello", 1));
    try {
        openRaw()->exec("INSERT INTO notes (noteid, content, createdtime, lastmodifiedtime) VALUES ('note-1', x'', 1, 1)");
        FAIL() << "duplicate insert succeeded";
    } catch (const SQLite::Exception &error) {
        EXPECT_EQ(errorDescription(error),
                  QStringLiteral("UNIQUE constraint failed: notes.noteid (code: 19, extended code: 1555)"));
    }
}

} // namespace
