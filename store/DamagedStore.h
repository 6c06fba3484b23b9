#pragma once

#include "Note.h"

#include <QList>
#include <QString>

#include <functional>

namespace SQLite { class Database; }

// A notes file that something damaged (a disk fault, a crash of another
// program that wrote it) must not lose more than it has already lost.
namespace damagedStore {

// What a check of the file found before the first write.
struct CheckOutcome {
    bool damaged = false;
    QString details;    // what the check reported, when damaged
};

// Runs SQLite's quick check of the file at `path` on a thread of its own.
// Until it has answered, every statement that would write into the file, on
// any connection the store opens, waits for it; when the file is damaged, a
// copy of it is kept beside it (owner-only, with its journal) before the
// first write goes ahead, and `onCopy` is told the copy's path, or an empty
// path with the reason when no copy could be made: the write is then refused,
// and the next one tries again. Reads never wait.
//
// A file that does not exist or is empty needs no check.
void startCheck(const QString &path,
                std::function<void(const QString &copyPath, const QString &failure)> onCopy);

// Waits for the check started last and gives its outcome; a healthy outcome
// when none was started.
CheckOutcome checkOutcome();

// Hooks a new connection into the check above: done for every connection the
// store opens.
void guardConnection(SQLite::Database &connection);

// The notes the grid shows, read one by one from a file where the read of the
// whole list fails: each row that can be read and is not marked deleted,
// newest change first, and the number of rows that could not be read.
struct SalvagedNotes {
    QList<Note> notes;
    int unreadable = 0;
};
// Throws when the file cannot be opened or no note at all can be found.
SalvagedNotes readLiveNotesOneByOne(const QString &path);

} // namespace damagedStore
