#include "DamagedStore.h"

#include "StoreStatement.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace damagedStore {

namespace {

constexpr int kCheckBusyTimeoutMs = 5000;

// The one check of the process and the copy it may call for.
struct Guard {
    std::mutex mutex;
    std::condition_variable answered;
    // Nothing to wait for: no check was started, or its answer was healthy,
    // or the copy has been kept. Read without the lock on every write.
    std::atomic<bool> clear{true};
    bool running = false;
    CheckOutcome outcome;
    bool copyKept = false;
    QString path;
    std::function<void(const QString &, const QString &)> onCopy;
};

Guard &guard()
{
    // Never destroyed: a check may still run while the process ends.
    static Guard *instance = new Guard;
    return *instance;
}

CheckOutcome runQuickCheck(const QString &path)
{
    CheckOutcome outcome;
    try {
        SQLite::Database connection(QFile::encodeName(path).toStdString(), SQLite::OPEN_READONLY,
                                    kCheckBusyTimeoutMs);
        SQLite::Statement check(connection, "PRAGMA quick_check");
        QStringList lines;
        while (check.executeStep())
            lines.append(QString::fromUtf8(check.getColumn(0).getText()));
        if (lines != QStringList{QStringLiteral("ok")}) {
            outcome.damaged = true;
            outcome.details = lines.join(QLatin1String("; "));
        }
    } catch (const SQLite::Exception &error) {
        // Only a file that SQLite finds malformed counts; a lock or a
        // missing permission says nothing about the file's state.
        const int code = error.getErrorCode();
        if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) {
            outcome.damaged = true;
            outcome.details = QString::fromUtf8(error.what());
        }
    }
    return outcome;
}

// Copies `from` to `to`, which must not exist yet, owner-only.
bool copyPrivately(const QString &from, const QString &to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = ::fchmod(out, 0600) == 0;
    char buffer[1 << 16];
    while (ok) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += put > 0 ? put : 0;
        }
    }
    ok = ok && ::fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    ::close(in);
    if (!ok)
        ::unlink(QFile::encodeName(to).constData());
    return ok;
}

// Keeps the file, with whatever journal lies beside it, under a name of its
// own; gives the copy's path, or an empty one and the reason.
std::pair<QString, QString> keepCopy(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!copyPrivately(path, copy))
        return {QString(), QString::fromLocal8Bit(std::strerror(errno))};
    for (const char *suffix : {"-journal", "-wal"}) {
        const QString journal = path + QLatin1String(suffix);
        if (QFileInfo::exists(journal) && !copyPrivately(journal, copy + QLatin1String(suffix)))
            return {QString(), QString::fromLocal8Bit(std::strerror(errno))};
    }
    return {copy, QString()};
}

// Waits for the check, keeps the copy once if the file is damaged; false
// when the write must not go ahead.
bool beforeWrite()
{
    Guard &g = guard();
    std::unique_lock lock(g.mutex);
    g.answered.wait(lock, [&g] { return !g.running; });
    if (!g.outcome.damaged || g.copyKept)
        return true;
    const auto [copy, failure] = keepCopy(g.path);
    g.copyKept = !copy.isEmpty();
    if (g.copyKept)
        g.clear = true;
    if (g.onCopy)
        g.onCopy(copy, failure);
    return g.copyKept;
}

bool writes(int action)
{
    switch (action) {
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VIEW:
    case SQLITE_ALTER_TABLE:
    case SQLITE_REINDEX:
    case SQLITE_ANALYZE:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
        return true;
    default:
        return false;
    }
}

int authorize(void *, int action, const char *, const char *, const char *, const char *)
{
    if (guard().clear.load(std::memory_order_acquire) || !writes(action))
        return SQLITE_OK;
    return beforeWrite() ? SQLITE_OK : SQLITE_DENY;
}

} // namespace

void startCheck(const QString &path, std::function<void(const QString &, const QString &)> onCopy)
{
    Guard &g = guard();
    std::unique_lock lock(g.mutex);
    g.answered.wait(lock, [&g] { return !g.running; });
    g.path = path;
    g.onCopy = std::move(onCopy);
    g.outcome = {};
    g.copyKept = false;
    const QFileInfo file(path);
    if (!file.exists() || file.size() == 0) {
        g.clear = true;
        return;
    }
    g.running = true;
    g.clear = false;
    std::thread([path] {
        const CheckOutcome outcome = runQuickCheck(path);
        Guard &g = guard();
        {
            std::lock_guard lock(g.mutex);
            g.outcome = outcome;
            g.running = false;
            if (!outcome.damaged)
                g.clear = true;
        }
        g.answered.notify_all();
    }).detach();
}

CheckOutcome checkOutcome()
{
    Guard &g = guard();
    std::unique_lock lock(g.mutex);
    g.answered.wait(lock, [&g] { return !g.running; });
    return g.outcome;
}

void guardConnection(SQLite::Database &connection)
{
    sqlite3_set_authorizer(connection.getHandle(), authorize, nullptr);
}

namespace {

struct KnownRow {
    std::optional<int64_t> rowid;
    QString noteid;
};

// Steps through `sql` (rowid and "noteid" per row) until the end or the
// first failure, keeping what was read.
void collectRows(SQLite::Database &connection, const char *sql, std::map<QString, KnownRow> &byId,
                 std::map<int64_t, KnownRow> &withoutId)
{
    try {
        SQLite::Statement scan(connection, sql);
        while (scan.executeStep()) {
            KnownRow row;
            if (scan.getColumn(0).getType() == SQLITE_INTEGER)
                row.rowid = scan.getColumn(0).getInt64();
            if (scan.getColumn(1).getType() == SQLITE_TEXT)
                row.noteid = QString::fromUtf8(scan.getColumn(1).getText(), scan.getColumn(1).getBytes());
            if (row.noteid.isEmpty()) {
                if (row.rowid)
                    withoutId.emplace(*row.rowid, row);
                continue;
            }
            KnownRow &known = byId[row.noteid];
            known.noteid = row.noteid;
            if (row.rowid)
                known.rowid = row.rowid;
        }
    } catch (const SQLite::Exception &) {
        // The rest of this walk lies behind the damage; another walk may
        // reach it from its other end.
    }
}

std::optional<Note> readOne(SQLite::Database &connection, const KnownRow &row)
{
    try {
        // By the row's own number where a walk of the table found it,
        // else through the identifier's index.
        SQLite::Statement select(connection, row.rowid ? R"(SELECT * FROM "notes" WHERE (rowid = ?))"
                                                       : R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)");
        if (row.rowid)
            select.bind(1, *row.rowid);
        else
            store::bindText(select, 1, row.noteid);
        if (!select.executeStep())
            return std::nullopt;
        return store::readNote(select, store::NoteColumns(select));
    } catch (const SQLite::Exception &) {
        return std::nullopt;
    }
}

} // namespace

SalvagedNotes readLiveNotesOneByOne(const QString &path)
{
    SQLite::Database connection(QFile::encodeName(path).toStdString(), SQLite::OPEN_READONLY, kCheckBusyTimeoutMs);
    std::map<QString, KnownRow> byId;
    std::map<int64_t, KnownRow> withoutId;
    // Three walks that meet damage at different places: the identifiers'
    // index, and the table from its first row and from its last.
    collectRows(connection, R"(SELECT NULL, "noteid" FROM "notes" INDEXED BY "sqlite_autoindex_notes_1" ORDER BY "noteid")",
                byId, withoutId);
    collectRows(connection, R"(SELECT rowid, "noteid" FROM "notes" ORDER BY rowid ASC)", byId, withoutId);
    collectRows(connection, R"(SELECT rowid, "noteid" FROM "notes" ORDER BY rowid DESC)", byId, withoutId);
    if (byId.empty() && withoutId.empty())
        throw SQLite::Exception("no note of the damaged file can be found", SQLITE_CORRUPT);

    SalvagedNotes salvaged;
    auto take = [&](const KnownRow &row) {
        const std::optional<Note> note = readOne(connection, row);
        if (!note)
            ++salvaged.unreadable;
        else if (!note->isdeleted)
            salvaged.notes.append(*note);
    };
    for (const auto &[id, row] : byId)
        take(row);
    for (const auto &[rowid, row] : withoutId)
        take(row);
    std::stable_sort(salvaged.notes.begin(), salvaged.notes.end(),
                     [](const Note &a, const Note &b) { return a.lastModifiedDate > b.lastModifiedDate; });
    return salvaged;
}

} // namespace damagedStore
