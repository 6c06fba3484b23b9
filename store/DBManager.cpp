#include "DBManager.h"

#include "Console.h"
#include "DamagedStore.h"
#include "HomeFolder.h"
#include "PrivateFiles.h"
#include "StoreStatement.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <exception>
#include <filesystem>
#include <functional>
#include <string>

namespace {

constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX;
// A sync reads the whole table on a worker thread while the user may save on
// the main thread; without a wait, the save would fail at once on the reader's
// lock and the typed text would be lost at quit.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char *kCreateUserTable =
        R"(CREATE TABLE IF NOT EXISTS "user" ("uid" TEXT PRIMARY KEY NOT NULL, "email" TEXT, "passcode" TEXT, "createdtime" INTEGER NOT NULL))";
constexpr const char *kCreateNotesTable =
        R"(CREATE TABLE IF NOT EXISTS "notes" ("noteid" TEXT PRIMARY KEY NOT NULL, "content" BLOB NOT NULL, "type" INTEGER NOT NULL DEFAULT (1), "isdeleted" INTEGER NOT NULL DEFAULT (0), "createdtime" INTEGER NOT NULL, "lastmodifiedtime" INTEGER NOT NULL, "title" TEXT NOT NULL DEFAULT (''), "isfavorite" INTEGER NOT NULL DEFAULT (0), "filelink" TEXT NOT NULL DEFAULT (''), "isbackup" INTEGER NOT NULL DEFAULT (0)))";
constexpr const char *kInsertUser = R"(INSERT INTO "user" ("uid", "createdtime") VALUES (?, ?))";
constexpr const char *kCountUsers = R"(SELECT count(*) FROM "user")";

const QStringList kUserColumns{"uid", "email", "passcode", "createdtime"};
const QStringList kNoteBaseColumns{"noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime"};
const QStringList kNoteColumns = kNoteBaseColumns + QStringList{"title", "isfavorite", "filelink", "isbackup"};

enum class ColumnKind { text, integer };

struct AddedColumn {
    const char *name;
    ColumnKind kind;
};

// The columns later versions added to "notes", in the order they came.
constexpr AddedColumn kAddedNoteColumns[] = {
    {"title", ColumnKind::text},
    {"isfavorite", ColumnKind::integer},
    {"filelink", ColumnKind::text},
    {"isbackup", ColumnKind::integer},
};

QString quotedName(const QString &name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

std::string addColumnStatement(const AddedColumn &column)
{
    const QString definition = column.kind == ColumnKind::text
            ? QStringLiteral("TEXT NOT NULL DEFAULT ('')")
            : QStringLiteral("INTEGER NOT NULL DEFAULT (0)");
    return (QStringLiteral("ALTER TABLE \"notes\" ADD COLUMN ") + quotedName(QString::fromLatin1(column.name))
            + QLatin1Char(' ') + definition)
            .toStdString();
}

// Anything at the path counts, a dangling symbolic link too.
bool somethingExistsAt(const std::filesystem::path &path)
{
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() != std::filesystem::file_type::not_found;
}

DBManager::Connection openConnection(const QString &path)
{
    privateFiles::createPrivateFile(path);
    auto connection = std::make_shared<SQLite::Database>(path.toStdString(), kOpenFlags, kBusyTimeoutMs);
    damagedStore::guardConnection(*connection);
    return connection;
}

QStringList columnNames(const DBManager::Connection &connection, const QString &table)
{
    store::IssuedStatement pragma(connection, ("PRAGMA table_info(" + table + ")").toUtf8().constData());
    QStringList names;
    while (pragma.statement.executeStep()) {
        const SQLite::Column name = pragma.statement.getColumn(1);
        names.append(name.isText() ? QString::fromUtf8(name.getText(), name.getBytes()) : QString());
    }
    return names;
}

} // namespace

DBManager::DBManager() = default;
DBManager::~DBManager() = default;

DBManager &DBManager::shared()
{
    static DBManager instance;
    return instance;
}

QString DBManager::databasePath()
{
    return QDir::cleanPath(homeFolder() + QStringLiteral("/.tovik/tovik.db"));
}

DBManager::Connection DBManager::db() const
{
    std::lock_guard lock(m_dbMutex);
    return m_db;
}

void DBManager::installDb(Connection connection)
{
    {
        std::lock_guard lock(m_dbMutex);
        m_db.swap(connection);
    }
    // `connection` now holds the replaced one; if nothing else holds it, it
    // closes here, outside the lock.
}

void DBManager::openNewConnection()
{
    installDb(openConnection(databasePath()));
}

void DBManager::execute(const char *sql)
{
    const Connection connection = db();
    if (connection)
        connection->exec(sql);
}

void DBManager::setupDatabase()
{
    const QString path = databasePath();
    const std::filesystem::path folder = QFileInfo(path).path().toStdString();

    if (!somethingExistsAt(folder)) {
        const std::error_code error = privateFiles::createPrivateFolder(QFileInfo(path).path());
        if (error)
            throw std::filesystem::filesystem_error("cannot create the database folder", folder, error);
    }

    const bool existingFile = somethingExistsAt(path.toStdString());
    installDb(openConnection(path));

    execute("BEGIN DEFERRED TRANSACTION");
    try {
        if (existingFile)
            upgradeTablesIfNeeded();
        else
            createTables();
        execute("COMMIT TRANSACTION");
    } catch (...) {
        const std::exception_ptr stepError = std::current_exception();
        try {
            execute("ROLLBACK TRANSACTION");
        } catch (const SQLite::Exception &rollbackError) {
            try {
                std::rethrow_exception(stepError);
            } catch (const SQLite::Exception &error) {
                throw SQLite::Exception(std::string(error.what()) + " (rollback failed: " + rollbackError.what() + ")",
                                        error.getErrorCode());
            }
        }
        std::rethrow_exception(stepError);
    }
}

void DBManager::createTables()
{
    execute(kCreateUserTable);
    execute(kCreateNotesTable);
    createLocalUser();
}

void DBManager::upgradeTablesIfNeeded()
{
    if (!tableHasColumns(QStringLiteral("user"), kUserColumns))
        execute(kCreateUserTable);
    if (!tableHasColumns(QStringLiteral("notes"), kNoteBaseColumns))
        execute(kCreateNotesTable);
    if (!tableHasColumns(QStringLiteral("notes"), kNoteColumns))
        addMissingNoteColumns();

    const Connection connection = db();
    if (!connection)
        return;
    store::IssuedStatement count(connection, kCountUsers);
    if (count.statement.executeStep() && count.statement.getColumn(0).getInt64() == 0)
        createLocalUser();
}

bool DBManager::tableHasColumns(const QString &table, const QStringList &columns)
{
    const Connection connection = db();
    if (!connection)
        return columns.isEmpty();
    const QStringList names = columnNames(connection, table);
    for (const QString &column : columns) {
        if (!names.contains(column))
            return false;
    }
    return true;
}

void DBManager::addMissingNoteColumns()
{
    const Connection connection = db();
    if (!connection)
        return;
    const QStringList names = columnNames(connection, QStringLiteral("notes"));
    for (const AddedColumn &column : kAddedNoteColumns) {
        if (names.contains(QString::fromLatin1(column.name)))
            continue;
        switch (column.kind) {
        case ColumnKind::text:
        case ColumnKind::integer:
            execute(addColumnStatement(column).c_str());
            break;
        default:
            printLine(QStringLiteral("Unsupported column type for ") + QString::fromLatin1(column.name));
        }
    }
}

void DBManager::createLocalUser()
{
    const QString uid = QStringLiteral("bid-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const int64_t now = store::secondsSinceEpoch();
    const Connection connection = db();
    if (!connection)
        return;
    store::IssuedStatement insert(connection, kInsertUser);
    store::bindText(insert.statement, 1, uid);
    insert.statement.bind(2, now);
    insert.statement.exec();
}
