#include "AppState.h"

#include "Console.h"
#include "DBManager.h"
#include "DamagedStore.h"
#include "ProblemNotice.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

namespace {

// Failures that lie in the file's rows rather than in reaching the file: a
// damaged page, or a value of the wrong kind that another program wrote.
// Read one by one, most rows still come back.
bool rowsAreAtFault(const std::exception &error)
{
    const auto *sqlite = dynamic_cast<const SQLite::Exception *>(&error);
    return sqlite
            && (sqlite->getErrorCode() == SQLITE_CORRUPT || sqlite->getErrorCode() == SQLITE_MISMATCH
                || sqlite->getErrorCode() == SQLITE_NOTADB);
}

QString unreadableMessage(int unreadable, qsizetype shown, const std::exception &error)
{
    const QString count = unreadable == 1 ? QStringLiteral("1 note could not be read")
                                          : QStringLiteral("%1 notes could not be read").arg(unreadable);
    return QStringLiteral("%1: %2. The %3 other notes are shown.")
            .arg(count, ProblemNotice::plainReason(error))
            .arg(shown);
}

} // namespace

FetchedNotes fetchNotesForGrid()
{
    FetchedNotes fetched;
    try {
        fetched.notes = DBManager::shared().fetchAllNotes();
        return fetched;
    } catch (const std::exception &error) {
        fetched.error = errorDescription(error);
        fetched.problem = ProblemNotice::message(ProblemNotice::Action::read, error);
        if (!rowsAreAtFault(error))
            return fetched;
        try {
            damagedStore::SalvagedNotes salvaged = damagedStore::readLiveNotesOneByOne(DBManager::databasePath());
            fetched.notes = std::move(salvaged.notes);
            fetched.readOneByOne = true;
            fetched.problem = salvaged.unreadable > 0
                    ? unreadableMessage(salvaged.unreadable, fetched.notes.size(), error)
                    : QString();
        } catch (const std::exception &) {
            // Nothing could be read one by one either: the first failure
            // stands.
        }
    }
    return fetched;
}
