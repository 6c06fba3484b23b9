#include "StoreTestSupport.h"

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <mutex>

namespace {

std::mutex logMutex;
std::vector<std::string> logged;

int traceStatement(unsigned, void *, void *statement, void *)
{
    const char *sql = sqlite3_sql(static_cast<sqlite3_stmt *>(statement));
    std::lock_guard lock(logMutex);
    logged.emplace_back(sql ? sql : "");
    return 0;
}

int attachTrace(sqlite3 *db, char **, const sqlite3_api_routines *)
{
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
    return SQLITE_OK;
}

} // namespace

void StatementLog::install()
{
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_auto_extension(reinterpret_cast<void (*)()>(attachTrace)); });
}

void StatementLog::clear()
{
    std::lock_guard lock(logMutex);
    logged.clear();
}

std::vector<std::string> StatementLog::statements()
{
    std::lock_guard lock(logMutex);
    return logged;
}

std::vector<std::string> StatementLog::during(const std::function<void()> &call)
{
    clear();
    call();
    std::vector<std::string> own;
    for (const std::string &sql : statements()) {
        // SQLite reads the schema with statements of its own on first use.
        if (sql.rfind("SELECT*FROM\"main\".sqlite_master", 0) != 0)
            own.push_back(sql);
    }
    return own;
}

void TempHomeTest::SetUp()
{
    StatementLog::install();
    m_home = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(m_home->isValid());
    m_oldHome = qgetenv("HOME");
    qputenv("HOME", m_home->path().toUtf8());
    ASSERT_EQ(DBManager::databasePath(), databaseFile());
}

void TempHomeTest::TearDown()
{
    qputenv("HOME", m_oldHome);
}

std::unique_ptr<SQLite::Database> TempHomeTest::openRaw() const
{
    return std::make_unique<SQLite::Database>(databaseFile().toStdString(), SQLite::OPEN_READWRITE);
}

void TempHomeTest::writeFile(const std::vector<std::string> &statements) const
{
    QDir().mkpath(tovikFolder());
    QFile file(databaseFile()); // zero bytes when no statement follows
    file.open(QIODevice::WriteOnly | QIODevice::Append);
    file.close();
    SQLite::Database db(databaseFile().toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    for (const std::string &sql : statements)
        db.exec(sql);
}

std::string TempHomeTest::tableSql(const std::string &table) const
{
    auto db = openRaw();
    SQLite::Statement select(*db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
    select.bind(1, table);
    return select.executeStep() ? select.getColumn(0).getString() : std::string();
}

int64_t TempHomeTest::rowCount(const std::string &table) const
{
    auto db = openRaw();
    return db->execAndGet("SELECT count(*) FROM \"" + table + "\"").getInt64();
}

void TempHomeTest::insertRow(const Note &note) const
{
    auto db = openRaw();
    SQLite::Statement insert(*db, "INSERT INTO notes (noteid, content, type, isdeleted, createdtime, "
                                  "lastmodifiedtime, title, isfavorite, filelink) VALUES (?,?,?,?,?,?,?,?,?)");
    insert.bind(1, note.id.toStdString());
    insert.bind(2, note.content.isEmpty() ? "" : note.content.constData(), int(note.content.size()));
    insert.bind(3, note.type);
    insert.bind(4, note.isdeleted ? 1 : 0);
    insert.bind(5, note.createdDate);
    insert.bind(6, note.lastModifiedDate);
    insert.bind(7, note.title.toStdString());
    insert.bind(8, note.isfavorite);
    insert.bind(9, note.filelink.toStdString());
    insert.exec();
}

int sqliteErrorCode(const std::function<void()> &call)
{
    try {
        call();
    } catch (const SQLite::Exception &error) {
        return error.getErrorCode();
    } catch (...) {
        return -1;
    }
    ADD_FAILURE() << "expected a SQLite error";
    return 0;
}

Note makeNote(const QString &id, const QByteArray &content, int64_t type, bool isdeleted, int64_t created,
              int64_t modified, const QString &title, int64_t isfavorite, const QString &filelink)
{
    return Note{id, content, type, isdeleted, created, modified, title, isfavorite, filelink};
}

void expectSameEditableFields(const Note &actual, const Note &expected)
{
    EXPECT_EQ(actual.content, expected.content);
    EXPECT_EQ(actual.type, expected.type);
    EXPECT_EQ(actual.isdeleted, expected.isdeleted);
    EXPECT_EQ(actual.title, expected.title);
    EXPECT_EQ(actual.isfavorite, expected.isfavorite);
    EXPECT_EQ(actual.filelink, expected.filelink);
}
