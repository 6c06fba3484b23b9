#pragma once

#include "StoredNote.h"
#include "SyncRules.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An HTTP status with its JSON body.
struct ServiceResponse {
    int httpStatus = 200;
    std::string body;
};

// The sync service's logic over its SQLite file, apart from any transport.
//
// Every request names an account by e-mail address and carries that machine's
// notes. An unknown address is registered. Each stored version of a note has a
// revision, counting from 1 for that note; machines send with each note the
// revision they last agreed on, and the service decides by it (decideByRevision),
// keeping replaced versions within `HistoryBounds` to merge against. A request
// without any revision comes from a machine that knows none and is decided by
// change times (decideByTime). Either way the answer holds, with its revision,
// every note the machine does not hold as the service's current copy, so that
// once every machine has synced after the last change all hold the same notes.
// A request that changes nothing writes nothing; one made again after its
// answer was lost makes no second revision and no second copy.
// A note marked deleted is kept as a marker without its text, so machines that
// still have the note learn of the deletion.
class SyncService {
public:
    // Every sync carries all of a machine's notes, so the limit is what one
    // store may hold.
    static constexpr std::size_t defaultMaxBodyBytes = std::size_t(512) << 20;
    static constexpr const char *busyMessage = "The service is busy; try again shortly";

    explicit SyncService(const std::string &databasePath, std::size_t maxBodyBytes = defaultMaxBodyBytes,
                         HistoryBounds history = {});

    // Handles one POST /api/sync body. Bad input gets 400 (413 past the size
    // limit) and changes nothing, as does a request that finds memory short
    // (503, busyMessage); each accepted request is one transaction.
    ServiceResponse handleSync(std::string_view body);

    // What the service keeps, for inspection.
    bool isRegistered(const std::string &email);
    std::vector<StoredNote> notesOf(const std::string &email);

    std::size_t maxBodyBytes() const { return m_maxBodyBytes; }

    // {"msg": text}
    static std::string messageBody(const std::string &message);

private:
    int64_t now() const;
    std::optional<HeldNote> heldNote(const std::string &email, const std::string &noteid);
    // Fills `whole` when the version is kept whole; `hash` when it is kept at all.
    void keptVersion(const std::string &email, const std::string &noteid, int64_t rev,
                     std::optional<StoredNote> &whole, std::string &hash);
    bool isReplacedVersion(const std::string &email, const StoredNote &note);
    bool hasReceipt(const std::string &email, const std::string &noteid, int64_t baseRev, const std::string &hash);
    void writeRevision(const std::string &email, const StoredNote &note, const std::optional<HeldNote> &replaced);
    void addReceipt(const std::string &email, const std::string &noteid, int64_t baseRev, const std::string &hash,
                    int64_t rev);

    const std::size_t m_maxBodyBytes;
    const HistoryBounds m_history;
    std::mutex m_mutex;
    SQLite::Database m_db;
    // Prepared once; each use resets it, so no statement holds a read open
    // across a commit and the WAL can be checkpointed back to its start.
    SQLite::Statement m_knownAccount;
    SQLite::Statement m_addAccount;
    SQLite::Statement m_selectNotes;
    SQLite::Statement m_writeNote;
    SQLite::Statement m_measureNotes;
    SQLite::Statement m_selectNote;
    SQLite::Statement m_selectVersion;
    SQLite::Statement m_selectVersions;
    SQLite::Statement m_archiveNote;
    SQLite::Statement m_thinVersions;
    SQLite::Statement m_pruneVersions;
    SQLite::Statement m_selectReceipt;
    SQLite::Statement m_addReceipt;
    SQLite::Statement m_pruneReceipts;
};
