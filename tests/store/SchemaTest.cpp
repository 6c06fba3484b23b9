#include "Console.h"
#include "DBError.h"
#include "StoreTestSupport.h"

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace {

using Statements = std::vector<std::string>;

const std::string kBaseNotesSql =
        R"(CREATE TABLE "notes" ("noteid" TEXT PRIMARY KEY NOT NULL, "content" BLOB NOT NULL, "type" INTEGER NOT NULL DEFAULT (1), "isdeleted" INTEGER NOT NULL DEFAULT (0), "createdtime" INTEGER NOT NULL, "lastmodifiedtime" INTEGER NOT NULL)";
const std::string kTitleColumn = R"("title" TEXT NOT NULL DEFAULT (''))";
const std::string kFavoriteColumn = R"("isfavorite" INTEGER NOT NULL DEFAULT (0))";
const std::string kFilelinkColumn = R"("filelink" TEXT NOT NULL DEFAULT (''))";
const std::string kBackupColumn = R"("isbackup" INTEGER NOT NULL DEFAULT (0))";

std::string alter(const std::string &column)
{
    return R"(ALTER TABLE "notes" ADD COLUMN )" + column;
}

std::vector<std::string> userIds(const SQLite::Database &db)
{
    std::vector<std::string> ids;
    SQLite::Statement select(db, "SELECT uid, email IS NULL, passcode IS NULL FROM user");
    while (select.executeStep()) {
        EXPECT_EQ(select.getColumn(1).getInt(), 1) << "email";
        EXPECT_EQ(select.getColumn(2).getInt(), 1) << "passcode";
        ids.push_back(select.getColumn(0).getString());
    }
    return ids;
}

int64_t tableCount(SQLite::Database &db)
{
    return db.execAndGet("SELECT count(*) FROM sqlite_master WHERE type = 'table'").getInt64();
}

using SchemaTest = TempHomeTest;

TEST_F(SchemaTest, FirstStartCreatesFolderFileTablesAndOneUser)
{
    ASSERT_FALSE(QFileInfo::exists(tovikFolder()));
    const int64_t before = time(nullptr);
    const Statements issued = StatementLog::during([&] { store.setupDatabase(); });

    EXPECT_EQ(issued, (Statements{
                              "BEGIN DEFERRED TRANSACTION",
                              R"(CREATE TABLE IF NOT EXISTS "user" ("uid" TEXT PRIMARY KEY NOT NULL, "email" TEXT, "passcode" TEXT, "createdtime" INTEGER NOT NULL))",
                              R"(CREATE TABLE IF NOT EXISTS "notes" ("noteid" TEXT PRIMARY KEY NOT NULL, "content" BLOB NOT NULL, "type" INTEGER NOT NULL DEFAULT (1), "isdeleted" INTEGER NOT NULL DEFAULT (0), "createdtime" INTEGER NOT NULL, "lastmodifiedtime" INTEGER NOT NULL, "title" TEXT NOT NULL DEFAULT (''), "isfavorite" INTEGER NOT NULL DEFAULT (0), "filelink" TEXT NOT NULL DEFAULT (''), "isbackup" INTEGER NOT NULL DEFAULT (0)))",
                              R"(INSERT INTO "user" ("uid", "createdtime") VALUES (?, ?))",
                              "COMMIT TRANSACTION",
                      }));
    EXPECT_TRUE(QFileInfo(tovikFolder()).isDir());
    EXPECT_EQ(tableSql("user"), kCreateUserSql);
    EXPECT_EQ(tableSql("notes"), kCreateNotesSql);

    auto db = openRaw();
    EXPECT_EQ(tableCount(*db), 2);
    const auto ids = userIds(*db);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^bid-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                        .match(QString::fromStdString(ids[0]))
                        .hasMatch())
            << ids[0];
    const int64_t created = db->execAndGet("SELECT createdtime FROM user").getInt64();
    EXPECT_GE(created, before);
    EXPECT_LE(created, time(nullptr));
    EXPECT_NE(store.db(), nullptr);
}

TEST_F(SchemaTest, SecondStartChangesNothing)
{
    store.setupDatabase();
    const std::string uid = userIds(*openRaw()).at(0);

    DBManager restarted;
    const Statements issued = StatementLog::during([&] { restarted.setupDatabase(); });
    EXPECT_EQ(issued, (Statements{
                              "BEGIN DEFERRED TRANSACTION",
                              "PRAGMA table_info(user)",
                              "PRAGMA table_info(notes)",
                              "PRAGMA table_info(notes)",
                              R"(SELECT count(*) FROM "user")",
                              "COMMIT TRANSACTION",
                      }));
    EXPECT_EQ(userIds(*openRaw()), Statements{uid});
    EXPECT_EQ(tableSql("user"), kCreateUserSql);
    EXPECT_EQ(tableSql("notes"), kCreateNotesSql);
}

struct MigrationCase {
    const char *name;
    std::string existingNotes;
    Statements expectedAlters;
    std::string expectedNotesSql;
};

TEST_F(SchemaTest, MissingNoteColumnsAreAddedInOrderWithDefaults)
{
    const MigrationCase cases[] = {
        {"all four missing", kBaseNotesSql + ")",
         {alter(kTitleColumn), alter(kFavoriteColumn), alter(kFilelinkColumn), alter(kBackupColumn)},
         kBaseNotesSql + ", " + kTitleColumn + ", " + kFavoriteColumn + ", " + kFilelinkColumn + ", " + kBackupColumn + ")"},
        {"only filelink missing", kBaseNotesSql + ", " + kTitleColumn + ", " + kFavoriteColumn + ", " + kBackupColumn + ")",
         {alter(kFilelinkColumn)},
         kBaseNotesSql + ", " + kTitleColumn + ", " + kFavoriteColumn + ", " + kBackupColumn + ", " + kFilelinkColumn + ")"},
    };
    for (const MigrationCase &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(databaseFile());
        writeFile({kCreateUserSql, c.existingNotes,
                   "INSERT INTO notes (noteid, content, type, isdeleted, createdtime, lastmodifiedtime) "
                   "VALUES ('old', x'6869', 1, 0, 10, 20)"});

        DBManager migrating;
        const Statements issued = StatementLog::during([&] { migrating.setupDatabase(); });
        Statements alters;
        for (const std::string &sql : issued) {
            if (sql.rfind("ALTER", 0) == 0)
                alters.push_back(sql);
        }
        EXPECT_EQ(alters, c.expectedAlters);
        EXPECT_EQ(tableSql("notes"), c.expectedNotesSql);

        const Note old = migrating.fetchNote(QStringLiteral("old"));
        EXPECT_EQ(old.content, QByteArray("hi"));
        EXPECT_EQ(old.createdDate, 10);
        EXPECT_EQ(old.lastModifiedDate, 20);
        EXPECT_EQ(old.title, QString());
        EXPECT_EQ(old.isfavorite, 0);
        EXPECT_EQ(old.filelink, QString());
        EXPECT_EQ(openRaw()->execAndGet("SELECT isbackup FROM notes").getInt64(), 0);
        EXPECT_EQ(rowCount("user"), 1);
    }
}

TEST_F(SchemaTest, CapitalisedTitleFailsAndRollsBackEverything)
{
    const std::string notesWithCapitalTitle = kBaseNotesSql + R"(, "Title" TEXT))";
    writeFile({notesWithCapitalTitle}); // and no user table yet

    try {
        store.setupDatabase();
        FAIL() << "set-up succeeded";
    } catch (const SQLite::Exception &error) {
        EXPECT_NE(std::string(error.what()).find("duplicate column name"), std::string::npos) << error.what();
    }
    // The user table the same transaction created is gone again.
    EXPECT_EQ(tableSql("user"), "");
    EXPECT_EQ(tableSql("notes"), notesWithCapitalTitle);
    EXPECT_NE(store.db(), nullptr) << "the connection stays open after a failed transaction";
}

struct ExistingFileCase {
    const char *name;
    Statements existing;
    std::string expectedNotesSql;
};

TEST_F(SchemaTest, ExistingFilesGetWhatIsMissing)
{
    const std::string notesWithoutType =
            R"(CREATE TABLE "notes" ("noteid" TEXT PRIMARY KEY NOT NULL, "content" BLOB NOT NULL, "isdeleted" INTEGER NOT NULL DEFAULT (0), "createdtime" INTEGER NOT NULL, "lastmodifiedtime" INTEGER NOT NULL, "title" TEXT NOT NULL DEFAULT (''), "isfavorite" INTEGER NOT NULL DEFAULT (0), "filelink" TEXT NOT NULL DEFAULT (''), "isbackup" INTEGER NOT NULL DEFAULT (0)))";
    const ExistingFileCase cases[] = {
        {"zero-byte file", {}, kCreateNotesSql},
        {"empty user table", {kCreateUserSql, kCreateNotesSql}, kCreateNotesSql},
        {"no user table", {kCreateNotesSql}, kCreateNotesSql},
        // A missing base column is not added, and set-up still succeeds.
        {"notes without type", {kCreateUserSql, notesWithoutType}, notesWithoutType},
    };
    for (const ExistingFileCase &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(databaseFile());
        writeFile(c.existing);
        ASSERT_TRUE(QFileInfo::exists(databaseFile()));

        DBManager starting;
        ASSERT_NO_THROW(starting.setupDatabase());
        EXPECT_EQ(tableSql("user"), kCreateUserSql);
        EXPECT_EQ(tableSql("notes"), c.expectedNotesSql);
        EXPECT_EQ(userIds(*openRaw()).size(), 1u);
    }
}

TEST_F(SchemaTest, PlainFileInPlaceOfTheFolderFailsWithTheOpenError)
{
    QFile plain(tovikFolder());
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    try {
        store.setupDatabase();
        FAIL() << "set-up succeeded";
    } catch (const SQLite::Exception &error) {
        EXPECT_EQ(error.getErrorCode(), SQLITE_CANTOPEN);
        EXPECT_EQ(errorDescription(error), QStringLiteral("unable to open database file (code: 14)"));
    }
    EXPECT_EQ(store.db(), nullptr);
    EXPECT_TRUE(QFileInfo(tovikFolder()).isFile());
}

TEST_F(SchemaTest, FolderThatCannotBeCreatedFailsBeforeOpening)
{
    // A home that is a plain file: no folder can be made inside it.
    const QString fileHome = homePath() + "/not-a-folder";
    QFile plain(fileHome);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("HOME", fileHome.toUtf8());

    EXPECT_THROW(store.setupDatabase(), std::filesystem::filesystem_error);
    EXPECT_EQ(store.db(), nullptr);
}

TEST_F(SchemaTest, WithoutHomeTheFileIsInTheAccountsHomeFolder)
{
    const passwd *account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const QString expected = QDir::cleanPath(QFile::decodeName(account->pw_dir) + "/.tovik/tovik.db");
    ASSERT_NE(expected, QStringLiteral("/.tovik/tovik.db")) << "this account's home is the root folder";

    qputenv("HOME", QByteArray());
    EXPECT_EQ(DBManager::databasePath(), expected) << "HOME empty";
    qunsetenv("HOME");
    EXPECT_EQ(DBManager::databasePath(), expected) << "HOME unset";
}

} // namespace
