#include "SyncService.h"

#include "NoteMerge.h"
#include "SyncRequestReader.h"

#include <SQLiteCpp/Transaction.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <unordered_map>

using nlohmann::ordered_json;

namespace {

constexpr const char *noteColumns =
    "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink";

SQLite::Database openDatabase(const std::string &path)
{
    SQLite::Database db(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_FULLMUTEX);
    db.exec("PRAGMA journal_mode = WAL");
    db.exec("PRAGMA synchronous = FULL");
    // One large sync may grow the WAL far; it shrinks back after the checkpoint.
    db.exec("PRAGMA journal_size_limit = 4194304");
    db.exec("CREATE TABLE IF NOT EXISTS accounts ("
            "email TEXT PRIMARY KEY NOT NULL, registeredtime INTEGER NOT NULL)");
    db.exec("CREATE TABLE IF NOT EXISTS notes ("
            "email TEXT NOT NULL REFERENCES accounts (email), noteid TEXT NOT NULL, "
            "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
            "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
            "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, PRIMARY KEY (email, noteid))");
    // Files from before revisions: every note kept so far is its revision 1.
    bool hasRevisions = false;
    {
        SQLite::Statement columns(db, "PRAGMA table_info(notes)");
        while (columns.executeStep())
            hasRevisions = hasRevisions || columns.getColumn(1).getString() == "rev";
    }
    if (!hasRevisions)
        db.exec("ALTER TABLE notes ADD COLUMN rev INTEGER NOT NULL DEFAULT 1");
    // Replaced versions that machines may still hold as their base.
    db.exec("CREATE TABLE IF NOT EXISTS note_versions ("
            "email TEXT NOT NULL, noteid TEXT NOT NULL, rev INTEGER NOT NULL, "
            "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
            "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
            "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, replacedtime INTEGER NOT NULL, "
            "versionhash TEXT NOT NULL, whole INTEGER NOT NULL, PRIMARY KEY (email, noteid, rev))");
    // A machine's copy the service has taken in (stored, merged or kept as a
    // copy), by its base and its hash: the revision it became part of. The
    // same copy sent again then changes nothing.
    db.exec("CREATE TABLE IF NOT EXISTS note_receipts ("
            "email TEXT NOT NULL, noteid TEXT NOT NULL, baserev INTEGER NOT NULL, copyhash TEXT NOT NULL, "
            "rev INTEGER NOT NULL, savedtime INTEGER NOT NULL, PRIMARY KEY (email, noteid, baserev, copyhash))");
    // Markers written before they were kept without text.
    db.exec("UPDATE notes SET content = '', title = '', filelink = '' "
            "WHERE isdeleted = 1 AND (content <> '' OR title <> '' OR filelink <> '')");
    return db;
}

// Resets a cached statement when the scope ends, however it ends.
class ResetOnExit {
public:
    explicit ResetOnExit(SQLite::Statement &statement) : m_statement(statement) {}
    ~ResetOnExit()
    {
        m_statement.tryReset();
        try {
            m_statement.clearBindings(); // bound copies of large texts go now
        } catch (const std::exception &) {
        }
    }
    ResetOnExit(const ResetOnExit &) = delete;
    ResetOnExit &operator=(const ResetOnExit &) = delete;

private:
    SQLite::Statement &m_statement;
};

constexpr const char *revisionColumns =
    "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink, rev";

bool isDeletion(const StoredNote &note)
{
    return note.isdeleted == 1;
}

// A deletion marker needs the identifier, times and flags only. The memory
// goes too, as a large request keeps its notes until it is answered.
void dropText(StoredNote &note)
{
    std::string().swap(note.content);
    std::string().swap(note.title);
    std::string().swap(note.filelink);
}

StoredNote noteFromRow(const SQLite::Statement &row)
{
    StoredNote note;
    note.noteid = row.getColumn(0).getString();
    note.content = row.getColumn(1).getString();
    note.type = row.getColumn(2).getInt64();
    note.isdeleted = row.getColumn(3).getInt64();
    note.createdtime = row.getColumn(4).getInt64();
    note.lastmodifiedtime = row.getColumn(5).getInt64();
    note.title = row.getColumn(6).getString();
    note.isfavorite = row.getColumn(7).getInt64();
    note.filelink = row.getColumn(8).getString();
    return note;
}

std::string noteJson(StoredNote &&note, int64_t rev)
{
    ordered_json object = ordered_json::object();
    object["noteid"] = std::move(note.noteid);
    object["content"] = std::move(note.content);
    object["type"] = note.type;
    object["isdeleted"] = note.isdeleted;
    object["createdtime"] = note.createdtime;
    object["lastmodifiedtime"] = note.lastmodifiedtime;
    object["title"] = std::move(note.title);
    object["isfavorite"] = note.isfavorite;
    object["filelink"] = std::move(note.filelink);
    object["rev"] = rev;
    return object.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string countText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " note" : " notes");
}

} // namespace

SyncService::SyncService(const std::string &databasePath, std::size_t maxBodyBytes, HistoryBounds history)
    : m_maxBodyBytes(maxBodyBytes)
    , m_history(std::move(history))
    , m_db(openDatabase(databasePath))
    , m_knownAccount(m_db, "SELECT 1 FROM accounts WHERE email = ?")
    , m_addAccount(m_db, "INSERT INTO accounts (email, registeredtime) VALUES (?, ?)")
    , m_selectNotes(m_db,
                    std::string("SELECT ") + revisionColumns
                        + " FROM notes WHERE email = ? ORDER BY lastmodifiedtime DESC, noteid")
    // The creation time stays as first recorded, as the clients keep it too.
    , m_writeNote(m_db,
                  std::string("INSERT INTO notes (email, ") + revisionColumns
                      + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                        "ON CONFLICT (email, noteid) DO UPDATE SET content = excluded.content, "
                        "type = excluded.type, isdeleted = excluded.isdeleted, "
                        "lastmodifiedtime = excluded.lastmodifiedtime, title = excluded.title, "
                        "isfavorite = excluded.isfavorite, filelink = excluded.filelink, rev = excluded.rev")
    , m_measureNotes(m_db, "SELECT COUNT(*), TOTAL(length(CAST(content AS BLOB)) + length(CAST(title AS BLOB)) "
                           "+ length(CAST(filelink AS BLOB))) FROM notes WHERE email = ?")
    , m_selectNote(m_db, std::string("SELECT ") + revisionColumns + " FROM notes WHERE email = ? AND noteid = ?")
    , m_selectVersion(m_db,
                      std::string("SELECT ") + noteColumns
                          + ", versionhash, whole FROM note_versions WHERE email = ? AND noteid = ? AND rev = ?")
    , m_selectVersions(m_db, "SELECT 1 FROM note_versions WHERE email = ? AND noteid = ? AND versionhash = ?")
    , m_archiveNote(m_db,
                    std::string("INSERT OR REPLACE INTO note_versions (email, ") + revisionColumns
                        + ", replacedtime, versionhash, whole) SELECT email, " + revisionColumns
                        + ", ?, ?, 1 FROM notes WHERE email = ? AND noteid = ?")
    , m_thinVersions(m_db, "UPDATE note_versions SET content = '', title = '', filelink = '', whole = 0 "
                           "WHERE email = ? AND noteid = ? AND whole = 1 AND (rev <= ? OR replacedtime < ?)")
    , m_pruneVersions(m_db, "DELETE FROM note_versions WHERE email = ? AND noteid = ? "
                            "AND (rev <= ? OR replacedtime < ?)")
    , m_selectReceipt(m_db, "SELECT rev FROM note_receipts "
                            "WHERE email = ? AND noteid = ? AND baserev = ? AND copyhash = ?")
    , m_addReceipt(m_db, "INSERT OR REPLACE INTO note_receipts (email, noteid, baserev, copyhash, rev, savedtime) "
                         "VALUES (?, ?, ?, ?, ?, ?)")
    , m_pruneReceipts(m_db, "DELETE FROM note_receipts WHERE email = ? AND noteid = ? "
                            "AND (rev <= ? OR savedtime < ?)")
{
    // Notes no longer changed keep their history until it ages out here.
    SQLite::Statement agedText(m_db, "UPDATE note_versions SET content = '', title = '', filelink = '', whole = 0 "
                                     "WHERE whole = 1 AND replacedtime < ?");
    agedText.bind(1, now() - m_history.maxAgeSeconds);
    agedText.exec();
    const int64_t oldest = now() - m_history.hashMaxAgeSeconds;
    SQLite::Statement agedVersions(m_db, "DELETE FROM note_versions WHERE replacedtime < ?");
    agedVersions.bind(1, oldest);
    agedVersions.exec();
    SQLite::Statement agedReceipts(m_db, "DELETE FROM note_receipts WHERE savedtime < ?");
    agedReceipts.bind(1, oldest);
    agedReceipts.exec();
}

int64_t SyncService::now() const
{
    return m_history.now ? m_history.now() : int64_t(std::time(nullptr));
}

std::optional<HeldNote> SyncService::heldNote(const std::string &email, const std::string &noteid)
{
    ResetOnExit reset(m_selectNote);
    m_selectNote.bind(1, email);
    m_selectNote.bind(2, noteid);
    if (!m_selectNote.executeStep())
        return std::nullopt;
    return HeldNote{noteFromRow(m_selectNote), m_selectNote.getColumn(9).getInt64()};
}

void SyncService::keptVersion(const std::string &email, const std::string &noteid, int64_t rev,
                              std::optional<StoredNote> &whole, std::string &hash)
{
    ResetOnExit reset(m_selectVersion);
    m_selectVersion.bind(1, email);
    m_selectVersion.bind(2, noteid);
    m_selectVersion.bind(3, rev);
    if (!m_selectVersion.executeStep())
        return;
    hash = m_selectVersion.getColumn(9).getString();
    if (m_selectVersion.getColumn(10).getInt64() != 0)
        whole = noteFromRow(m_selectVersion);
}

bool SyncService::isReplacedVersion(const std::string &email, const StoredNote &note)
{
    ResetOnExit reset(m_selectVersions);
    m_selectVersions.bind(1, email);
    m_selectVersions.bind(2, note.noteid);
    m_selectVersions.bind(3, versionHash(note));
    return m_selectVersions.executeStep();
}

bool SyncService::hasReceipt(const std::string &email, const std::string &noteid, int64_t baseRev,
                             const std::string &hash)
{
    ResetOnExit reset(m_selectReceipt);
    m_selectReceipt.bind(1, email);
    m_selectReceipt.bind(2, noteid);
    m_selectReceipt.bind(3, baseRev);
    m_selectReceipt.bind(4, hash);
    return m_selectReceipt.executeStep();
}

// Stores `note` as the revision after `replaced` (or as revision 1), keeping
// the replaced version for the machines that still hold it.
void SyncService::writeRevision(const std::string &email, const StoredNote &note,
                                const std::optional<HeldNote> &replaced)
{
    const int64_t rev = replaced ? replaced->rev + 1 : 1;
    if (replaced) {
        const int64_t replacedTime = now();
        {
            ResetOnExit reset(m_archiveNote);
            m_archiveNote.bind(1, replacedTime);
            m_archiveNote.bind(2, versionHash(replaced->note));
            m_archiveNote.bind(3, email);
            m_archiveNote.bind(4, note.noteid);
            m_archiveNote.exec();
        }
        const struct {
            SQLite::Statement *statement;
            int64_t count;
            int64_t age;
        } bounds[] = {
            {&m_thinVersions, m_history.versions, m_history.maxAgeSeconds},
            {&m_pruneVersions, m_history.hashes, m_history.hashMaxAgeSeconds},
            {&m_pruneReceipts, m_history.hashes, m_history.hashMaxAgeSeconds},
        };
        for (const auto &bound : bounds) {
            ResetOnExit reset(*bound.statement);
            bound.statement->bind(1, email);
            bound.statement->bind(2, note.noteid);
            bound.statement->bind(3, rev - 1 - bound.count);
            bound.statement->bind(4, replacedTime - bound.age);
            bound.statement->exec();
        }
    }
    ResetOnExit reset(m_writeNote);
    m_writeNote.bind(1, email);
    m_writeNote.bind(2, note.noteid);
    m_writeNote.bind(3, note.content);
    m_writeNote.bind(4, note.type);
    m_writeNote.bind(5, note.isdeleted);
    m_writeNote.bind(6, note.createdtime);
    m_writeNote.bind(7, note.lastmodifiedtime);
    m_writeNote.bind(8, note.title);
    m_writeNote.bind(9, note.isfavorite);
    m_writeNote.bind(10, note.filelink);
    m_writeNote.bind(11, rev);
    m_writeNote.exec();
}

void SyncService::addReceipt(const std::string &email, const std::string &noteid, int64_t baseRev,
                             const std::string &hash, int64_t rev)
{
    ResetOnExit reset(m_addReceipt);
    m_addReceipt.bind(1, email);
    m_addReceipt.bind(2, noteid);
    m_addReceipt.bind(3, baseRev);
    m_addReceipt.bind(4, hash);
    m_addReceipt.bind(5, rev);
    m_addReceipt.bind(6, now());
    m_addReceipt.exec();
}

std::string SyncService::messageBody(const std::string &message)
{
    ordered_json body = ordered_json::object();
    body["msg"] = message;
    return body.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ServiceResponse SyncService::handleSync(std::string_view body)
{
    if (body.size() > m_maxBodyBytes)
        return ServiceResponse{413, messageBody("Request body too large")};
    SyncRequest request;
    try {
        request = readSyncRequest(body);
    } catch (const BadRequest &error) {
        return ServiceResponse{400, messageBody(error.what())};
    } catch (const std::bad_alloc &) {
        return ServiceResponse{503, messageBody(SyncService::busyMessage)};
    }
    for (StoredNote &note : request.notes) {
        if (isDeletion(note))
            dropText(note);
    }

    const bool byRevision =
        std::any_of(request.bases.begin(), request.bases.end(), [](int64_t base) { return base > 0; });

    try {
        std::unordered_map<std::string_view, std::size_t> sent;
        sent.reserve(request.notes.size());
        for (std::size_t i = 0; i < request.notes.size(); ++i)
            sent.emplace(request.notes[i].noteid, i);

        std::lock_guard lock(m_mutex);
        SQLite::Transaction transaction(m_db);

        bool isNew = false;
        {
            ResetOnExit reset(m_knownAccount);
            m_knownAccount.bind(1, request.email);
            isNew = !m_knownAccount.executeStep();
        }
        if (isNew) {
            ResetOnExit reset(m_addAccount);
            m_addAccount.bind(1, request.email);
            m_addAccount.bind(2, now());
            m_addAccount.exec();
        }

        std::size_t accepted = 0;
        bool sentDeletion = false;
        // Whether the reply holds the note the machine sent: decided as each
        // is handled, so that its text can go before the reply is built.
        std::vector<bool> sentBack(request.notes.size(), false);
        for (std::size_t i = 0; i < request.notes.size(); ++i) {
            StoredNote &incoming = request.notes[i];
            const int64_t base = request.bases[i];
            sentDeletion = sentDeletion || isDeletion(incoming);
            const std::optional<HeldNote> current = heldNote(request.email, incoming.noteid);
            std::optional<HeldNote> after = current;
            const auto storeRevision = [&](const StoredNote &note) {
                writeRevision(request.email, note, current);
                after = HeldNote{note, current ? current->rev + 1 : 1};
                ++accepted;
            };
            if (!byRevision) {
                const NoteDecision decision = decideByTime(incoming, current);
                // A version the service has already replaced is a machine
                // that has not caught up, however its time compares with a
                // merge's; it must not undo what replaced it.
                if (decision.action == NoteDecision::Action::Store
                    && !(current && isReplacedVersion(request.email, incoming)))
                    storeRevision(decision.note);
            } else if (!(current && sameVersion(incoming, current->note))) {
                const std::string hash = versionHash(incoming);
                // A receipt: taken in before, and its answer was lost.
                if (!(current && hasReceipt(request.email, incoming.noteid, base, hash))) {
                    std::optional<StoredNote> baseVersion;
                    std::string baseHash;
                    if (current && base == current->rev)
                        baseVersion = current->note;
                    else if (current && base > 0 && base < current->rev)
                        keptVersion(request.email, incoming.noteid, base, baseVersion, baseHash);
                    const NoteDecision decision = decideByRevision(incoming, base, current, baseVersion, baseHash);
                    if (decision.action == NoteDecision::Action::Store) {
                        storeRevision(decision.note);
                        addReceipt(request.email, incoming.noteid, base, hash, after->rev);
                    } else if (decision.action == NoteDecision::Action::Copy) {
                        StoredNote copy = decision.note;
                        copy.noteid = conflictCopyId(incoming.noteid, base, hash);
                        if (!sent.count(copy.noteid) && !heldNote(request.email, copy.noteid)) {
                            writeRevision(request.email, copy, std::nullopt);
                            ++accepted;
                        }
                        addReceipt(request.email, incoming.noteid, base, hash, current->rev);
                    }
                }
            }
            // The machine must hold the current copy at its revision; a
            // deletion is of no use to a machine that deleted the note too.
            const StoredNote &held = after->note;
            sentBack[i] = isDeletion(held) ? !isDeletion(incoming)
                                           : base != after->rev || !sameVersion(incoming, held);
            dropText(incoming);
        }

        // The notes of the reply, straight into its text; the message, which
        // counts them, comes after. Room for all the account's notes is set
        // aside first: pages never written cost no memory, while growing a
        // large reply would hold it twice.
        std::string reply = "{\"status\":602,\"notes\":[";
        {
            ResetOnExit reset(m_measureNotes);
            m_measureNotes.bind(1, request.email);
            if (m_measureNotes.executeStep()) {
                const int64_t bytes = m_measureNotes.getColumn(1).getInt64();
                reply.reserve(std::size_t(bytes + bytes / 2 + 256 * m_measureNotes.getColumn(0).getInt64() + 256));
            }
        }
        std::size_t applyCount = 0;
        {
            ResetOnExit reset(m_selectNotes);
            m_selectNotes.bind(1, request.email);
            while (m_selectNotes.executeStep()) {
                StoredNote kept = noteFromRow(m_selectNotes);
                const auto it = sent.find(kept.noteid);
                if (it == sent.end() ? isDeletion(kept) : !sentBack[it->second])
                    continue;
                if (applyCount++ > 0)
                    reply += ',';
                reply += noteJson(std::move(kept), m_selectNotes.getColumn(9).getInt64());
            }
        }
        transaction.commit();

        // A machine purges the deletions it sent only on a 602.
        if (applyCount == 0 && !sentDeletion) {
            ordered_json idle = ordered_json::object();
            idle["status"] = 601;
            idle["msg"] = isNew ? "Email configured" : "Up to date";
            return ServiceResponse{200, idle.dump()};
        }
        const std::string message =
            "Synced: " + countText(accepted) + " stored, " + countText(applyCount) + " to apply";
        reply += "],\"msg\":" + ordered_json(message).dump() + '}';
        return ServiceResponse{200, std::move(reply)};
    } catch (const std::bad_alloc &) {
        return ServiceResponse{503, messageBody(SyncService::busyMessage)};
    } catch (const std::exception &error) {
        return ServiceResponse{500, messageBody(std::string("Internal error: ") + error.what())};
    }
}

bool SyncService::isRegistered(const std::string &email)
{
    std::lock_guard lock(m_mutex);
    ResetOnExit reset(m_knownAccount);
    m_knownAccount.bind(1, email);
    return m_knownAccount.executeStep();
}

std::vector<StoredNote> SyncService::notesOf(const std::string &email)
{
    std::lock_guard lock(m_mutex);
    ResetOnExit reset(m_selectNotes);
    m_selectNotes.bind(1, email);
    std::vector<StoredNote> notes;
    while (m_selectNotes.executeStep())
        notes.push_back(noteFromRow(m_selectNotes));
    return notes;
}
