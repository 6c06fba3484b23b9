#pragma once

#include "Note.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace SQLite { class Database; class Statement; }

// Writes a sync reply into the store on a connection of its own, so that it
// can run on a worker thread, with each note's row and base changed together.
//
// The user may have changed notes since the request was built: `sent` is a
// note as the request carried it, and a row that no longer holds it in every
// field a local change writes is left as the user made it.
class ReplyWriter {
public:
    // How write() treated one server note.
    enum class Outcome {
        written,    // the server's copy is stored, with its base
        keptLocal,  // the row changed since it was sent and stays as it is
        skipped,    // removed while the request was out, or made since
    };

    // Opens the store's existing file and makes sure it has the bases table.
    explicit ReplyWriter(const QString &databasePath);
    ~ReplyWriter();
    ReplyWriter(const ReplyWriter &) = delete;
    ReplyWriter &operator=(const ReplyWriter &) = delete;

    // In a transaction of its own: removes each note that went out marked
    // deleted and is unchanged since; gives the identifiers removed.
    QStringList purgeSentDeletedNotes(const QList<Note> &sent);

    // Stores the server's copy of a note and records `rev` as its base.
    // Whatever the row, a reply copy equal to the one sent means the service
    // holds what the user's copy derives from, so `rev` becomes the base. A
    // copy without a revision (an older service) leaves the note no base.
    // A deletion at a revision removes an unchanged row outright.
    // Runs inside the open batch (see below).
    Outcome write(const Note &server, std::optional<int64_t> rev, const Note *sent);

    // The notes go in batches: one transaction holds the file's write lock
    // for at most about `maxHold`, so a save in the window waits no longer.
    // beginBatch() starts one; batchIsFull() says when to commit it.
    void beginBatch();
    bool batchIsFull() const;
    void commitBatch();
    // Drops the open batch, if any; never throws.
    void rollbackBatch() noexcept;

    static constexpr std::chrono::milliseconds maxHold{40};

private:
    void recordBase(const QString &noteId, std::optional<int64_t> rev);

    std::unique_ptr<SQLite::Database> m_db;
    std::unique_ptr<SQLite::Statement> m_exists;
    std::unique_ptr<SQLite::Statement> m_insertIfAbsent;
    std::unique_ptr<SQLite::Statement> m_guardedUpdate;
    std::unique_ptr<SQLite::Statement> m_setBase;
    std::unique_ptr<SQLite::Statement> m_dropBase;
    std::unique_ptr<SQLite::Statement> m_delete;
    bool m_inBatch = false;
    std::chrono::steady_clock::time_point m_batchStart;
};

// True when both copies hold the same note in every field a user changes
// (the times aside); to-do lists compare item by item.
bool sameUserFields(const Note &a, const Note &b);
