#include "SyncService.h"

#include "NoteMerge.h"
#include "SyncRequestReader.h"

#include <nlohmann/json.hpp>

#include <malloc.h>

#include <algorithm>
#include <ctime>
#include <unordered_map>

using nlohmann::ordered_json;

namespace {

constexpr const char *noteColumns =
    "noteid, content, type, isdeleted, createdtime, lastmodifiedtime, title, isfavorite, filelink";

void createSchema(SqlSession &db)
{
    db.createTable("CREATE TABLE IF NOT EXISTS accounts ("
                   "email TEXT PRIMARY KEY NOT NULL, registeredtime INTEGER NOT NULL)");
    db.createTable("CREATE TABLE IF NOT EXISTS notes ("
                   "email TEXT NOT NULL REFERENCES accounts (email), noteid TEXT NOT NULL, "
                   "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
                   "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
                   "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, PRIMARY KEY (email, noteid))");
    // Files from before revisions: every note kept so far is its revision 1.
    if (db.dialect() == SqlDialect::PostgreSQL) {
        db.run("ALTER TABLE notes ADD COLUMN IF NOT EXISTS rev BIGINT NOT NULL DEFAULT 1");
    } else {
        bool hasRevisions = false;
        db.each("PRAGMA table_info(notes)", {},
                [&](const SqlRow &column) { hasRevisions = hasRevisions || column.text(1) == "rev"; });
        if (!hasRevisions)
            db.run("ALTER TABLE notes ADD COLUMN rev INTEGER NOT NULL DEFAULT 1");
    }
    // Replaced versions that machines may still hold as their base.
    db.createTable("CREATE TABLE IF NOT EXISTS note_versions ("
                   "email TEXT NOT NULL, noteid TEXT NOT NULL, rev INTEGER NOT NULL, "
                   "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
                   "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
                   "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, replacedtime INTEGER NOT NULL, "
                   "versionhash TEXT NOT NULL, whole INTEGER NOT NULL, PRIMARY KEY (email, noteid, rev))");
    // A machine's copy the service has taken in (stored, merged or kept as a
    // copy), by its base and its hash: the revision it became part of. The
    // same copy sent again then changes nothing.
    db.createTable("CREATE TABLE IF NOT EXISTS note_receipts ("
                   "email TEXT NOT NULL, noteid TEXT NOT NULL, baserev INTEGER NOT NULL, copyhash TEXT NOT NULL, "
                   "rev INTEGER NOT NULL, savedtime INTEGER NOT NULL, "
                   "PRIMARY KEY (email, noteid, baserev, copyhash))");
    // Markers written before they were kept without text.
    db.run("UPDATE notes SET content = '', title = '', filelink = '' "
           "WHERE isdeleted = 1 AND (content <> '' OR title <> '' OR filelink <> '')");
}

// Requests past this size hand the memory of their text back once decided.
constexpr std::size_t trimAfterBytes = std::size_t(8) << 20;

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

StoredNote noteFromRow(const SqlRow &row)
{
    StoredNote note;
    note.noteid = row.text(0);
    note.content = row.text(1);
    note.type = row.integer(2);
    note.isdeleted = row.integer(3);
    note.createdtime = row.integer(4);
    note.lastmodifiedtime = row.integer(5);
    note.title = row.text(6);
    note.isfavorite = row.integer(7);
    note.filelink = row.text(8);
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


const std::string selectNotesSql =
    std::string("SELECT ") + revisionColumns + " FROM notes WHERE email = ? ORDER BY lastmodifiedtime DESC, noteid";

// One account's notes and history inside the transaction of one request.
class AccountNotes {
public:
    AccountNotes(SqlSession &db, const std::string &email, const HistoryBounds &history, int64_t now)
        : m_db(db), m_email(email), m_history(history), m_now(now)
    {
    }

    std::optional<HeldNote> held(const std::string &noteid)
    {
        // A database over the network answers a statement in a round trip:
        // the account's notes come in one, not one note each.
        if (m_db.dialect() == SqlDialect::PostgreSQL) {
            load();
            const auto found = m_held.find(noteid);
            return found == m_held.end() ? std::nullopt : std::optional<HeldNote>(found->second);
        }
        static const std::string sql =
            std::string("SELECT ") + revisionColumns + " FROM notes WHERE email = ? AND noteid = ?";
        std::optional<HeldNote> found;
        m_db.first(sql, {m_email, noteid},
                   [&](const SqlRow &row) { found = HeldNote{noteFromRow(row), row.integer(9)}; });
        return found;
    }

    // Fills `whole` when the version is kept whole; `hash` when it is kept at all.
    void keptVersion(const std::string &noteid, int64_t rev, std::optional<StoredNote> &whole, std::string &hash)
    {
        static const std::string sql = std::string("SELECT ") + noteColumns
            + ", versionhash, whole FROM note_versions WHERE email = ? AND noteid = ? AND rev = ?";
        m_db.first(sql, {m_email, noteid, rev}, [&](const SqlRow &row) {
            hash = row.text(9);
            if (row.integer(10) != 0)
                whole = noteFromRow(row);
        });
    }

    bool isReplacedVersion(const StoredNote &note)
    {
        return m_db.first("SELECT 1 FROM note_versions WHERE email = ? AND noteid = ? AND versionhash = ?",
                          {m_email, note.noteid, versionHash(note)});
    }

    bool hasReceipt(const std::string &noteid, int64_t baseRev, const std::string &hash)
    {
        return m_db.first("SELECT rev FROM note_receipts "
                          "WHERE email = ? AND noteid = ? AND baserev = ? AND copyhash = ?",
                          {m_email, noteid, baseRev, hash});
    }

    // Stores `note` as the revision after `replaced` (or as revision 1),
    // keeping the replaced version for the machines that still hold it.
    void writeRevision(const StoredNote &note, const std::optional<HeldNote> &replaced)
    {
        const int64_t rev = replaced ? replaced->rev + 1 : 1;
        if (replaced) {
            static const std::string archive = std::string("INSERT INTO note_versions (email, ") + revisionColumns
                + ", replacedtime, versionhash, whole) SELECT email, " + revisionColumns
                + ", ?, ?, 1 FROM notes WHERE email = ? AND noteid = ? "
                  "ON CONFLICT (email, noteid, rev) DO UPDATE SET content = excluded.content, "
                  "type = excluded.type, isdeleted = excluded.isdeleted, createdtime = excluded.createdtime, "
                  "lastmodifiedtime = excluded.lastmodifiedtime, title = excluded.title, "
                  "isfavorite = excluded.isfavorite, filelink = excluded.filelink, "
                  "replacedtime = excluded.replacedtime, versionhash = excluded.versionhash, whole = 1";
            m_db.run(archive, {m_now, versionHash(replaced->note), m_email, note.noteid});
            const struct {
                const char *sql;
                int64_t count;
                int64_t age;
            } bounds[] = {
                {"UPDATE note_versions SET content = '', title = '', filelink = '', whole = 0 "
                 "WHERE email = ? AND noteid = ? AND whole = 1 AND (rev <= ? OR replacedtime < ?)",
                 m_history.versions, m_history.maxAgeSeconds},
                {"DELETE FROM note_versions WHERE email = ? AND noteid = ? AND (rev <= ? OR replacedtime < ?)",
                 m_history.hashes, m_history.hashMaxAgeSeconds},
                {"DELETE FROM note_receipts WHERE email = ? AND noteid = ? AND (rev <= ? OR savedtime < ?)",
                 m_history.hashes, m_history.hashMaxAgeSeconds},
            };
            for (const auto &bound : bounds)
                m_db.run(bound.sql, {m_email, note.noteid, rev - 1 - bound.count, m_now - bound.age});
        }
        // The creation time stays as first recorded, as the clients keep it too.
        static const std::string write = std::string("INSERT INTO notes (email, ") + revisionColumns
            + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
              "ON CONFLICT (email, noteid) DO UPDATE SET content = excluded.content, "
              "type = excluded.type, isdeleted = excluded.isdeleted, "
              "lastmodifiedtime = excluded.lastmodifiedtime, title = excluded.title, "
              "isfavorite = excluded.isfavorite, filelink = excluded.filelink, rev = excluded.rev";
        m_db.run(write, {m_email, note.noteid, note.content, note.type, note.isdeleted, note.createdtime,
                         note.lastmodifiedtime, note.title, note.isfavorite, note.filelink, rev});
        if (m_loaded) {
            StoredNote kept = note;
            if (replaced)
                kept.createdtime = replaced->note.createdtime;
            m_held.insert_or_assign(note.noteid, HeldNote{std::move(kept), rev});
        }
    }

    void addReceipt(const std::string &noteid, int64_t baseRev, const std::string &hash, int64_t rev)
    {
        m_db.run("INSERT INTO note_receipts (email, noteid, baserev, copyhash, rev, savedtime) "
                 "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (email, noteid, baserev, copyhash) "
                 "DO UPDATE SET rev = excluded.rev, savedtime = excluded.savedtime",
                 {m_email, noteid, baseRev, hash, rev, m_now});
    }

    // Every note of the account, newest change first, with its revision;
    // the notes are moved out, so this is the last use.
    void takeAll(const std::function<void(StoredNote &&, int64_t)> &note)
    {
        if (m_db.dialect() != SqlDialect::PostgreSQL) {
            m_db.each(selectNotesSql, {m_email}, [&](const SqlRow &row) { note(noteFromRow(row), row.integer(9)); });
            return;
        }
        // What the transaction read and wrote is what the account holds now;
        // reading it again would cost another round of the whole store.
        load();
        std::vector<HeldNote *> order;
        order.reserve(m_held.size());
        for (auto &entry : m_held)
            order.push_back(&entry.second);
        std::sort(order.begin(), order.end(), [](const HeldNote *a, const HeldNote *b) {
            if (a->note.lastmodifiedtime != b->note.lastmodifiedtime)
                return a->note.lastmodifiedtime > b->note.lastmodifiedtime;
            return a->note.noteid < b->note.noteid;
        });
        for (HeldNote *held : order)
            note(std::move(held->note), held->rev);
    }

    // Room for all the account's notes in a reply.
    std::size_t replyBytes()
    {
        if (m_db.dialect() == SqlDialect::PostgreSQL) {
            load();
            std::size_t bytes = 256;
            for (const auto &[id, held] : m_held)
                bytes += (held.note.content.size() + held.note.title.size() + held.note.filelink.size()) * 3 / 2 + 256;
            return bytes;
        }
        const char *sql = m_db.dialect() == SqlDialect::PostgreSQL
            ? "SELECT COUNT(*), COALESCE(SUM(octet_length(content) + octet_length(title) + octet_length(filelink)), 0) "
              "FROM notes WHERE email = ?"
            : "SELECT COUNT(*), TOTAL(length(CAST(content AS BLOB)) + length(CAST(title AS BLOB)) "
              "+ length(CAST(filelink AS BLOB))) FROM notes WHERE email = ?";
        std::size_t bytes = 0;
        m_db.first(sql, {m_email}, [&](const SqlRow &row) {
            const int64_t text = int64_t(row.real(1));
            bytes = std::size_t(text + text / 2 + 256 * row.integer(0) + 256);
        });
        return bytes;
    }

private:
    void load()
    {
        if (m_loaded)
            return;
        m_db.each(selectNotesSql, {m_email}, [&](const SqlRow &row) {
            StoredNote note = noteFromRow(row);
            std::string id = note.noteid;
            m_held.emplace(std::move(id), HeldNote{std::move(note), row.integer(9)});
        });
        m_loaded = true;
    }

    SqlSession &m_db;
    const std::string &m_email;
    const HistoryBounds &m_history;
    const int64_t m_now;
    bool m_loaded = false;
    std::unordered_map<std::string, HeldNote> m_held;
};

} // namespace

SyncService::SyncService(const std::string &where, std::size_t maxBodyBytes, HistoryBounds history)
    : SyncService(openSqlStore(where), maxBodyBytes, std::move(history))
{
}

SyncService::SyncService(std::unique_ptr<SqlStore> store, std::size_t maxBodyBytes, HistoryBounds history)
    : m_maxBodyBytes(maxBodyBytes), m_history(std::move(history)), m_store(std::move(store))
{
    m_store->setUp([this](SqlSession &db) {
        createSchema(db);
        // Notes no longer changed keep their history until it ages out here.
        db.run("UPDATE note_versions SET content = '', title = '', filelink = '', whole = 0 "
               "WHERE whole = 1 AND replacedtime < ?",
               {now() - m_history.maxAgeSeconds});
        const int64_t oldest = now() - m_history.hashMaxAgeSeconds;
        db.run("DELETE FROM note_versions WHERE replacedtime < ?", {oldest});
        db.run("DELETE FROM note_receipts WHERE savedtime < ?", {oldest});
    });
}

int64_t SyncService::now() const
{
    return m_history.now ? m_history.now() : int64_t(std::time(nullptr));
}

std::string SyncService::messageBody(const std::string &message)
{
    ordered_json body = ordered_json::object();
    body["msg"] = message;
    return body.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ServiceResponse SyncService::unavailable()
{
    ServiceResponse response{503, messageBody(busyMessage)};
    response.headers.emplace_back("Retry-After", std::to_string(StoreUnavailable::retryAfterSeconds));
    return response;
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
    // A transaction tried again needs the notes as sent; with one try only,
    // each note's text goes as soon as it is decided.
    const bool keepsText = m_store->retries();

    try {
        std::unordered_map<std::string_view, std::size_t> sent;
        sent.reserve(request.notes.size());
        for (std::size_t i = 0; i < request.notes.size(); ++i)
            sent.emplace(request.notes[i].noteid, i);

        bool isNew = false;
        std::size_t accepted = 0;
        bool sentDeletion = false;
        std::size_t sentCount = 0;
        std::size_t applyCount = 0; // of those, the ones with a change for the machine
        std::string reply;
        m_store->transact("account:" + request.email, true, [&](SqlSession &db) {
            AccountNotes notes(db, request.email, m_history, now());
            isNew = !db.first("SELECT 1 FROM accounts WHERE email = ?", {request.email});
            if (isNew)
                db.run("INSERT INTO accounts (email, registeredtime) VALUES (?, ?)", {request.email, now()});

            accepted = 0;
            sentDeletion = false;
            // Whether the reply holds the note the machine sent, and whether
            // only for its revision: decided as each is handled, so that its
            // text can go before the reply is built.
            enum SentBack : unsigned char { No, ForRevision, ForChange };
            std::vector<SentBack> sentBack(request.notes.size(), No);
            for (std::size_t i = 0; i < request.notes.size(); ++i) {
                StoredNote &incoming = request.notes[i];
                const int64_t base = request.bases[i];
                sentDeletion = sentDeletion || isDeletion(incoming);
                const std::optional<HeldNote> current = notes.held(incoming.noteid);
                std::optional<HeldNote> after = current;
                const auto storeRevision = [&](const StoredNote &note) {
                    notes.writeRevision(note, current);
                    after = HeldNote{note, current ? current->rev + 1 : 1};
                    ++accepted;
                };
                if (!byRevision) {
                    const NoteDecision decision = decideByTime(incoming, current);
                    // A version the service has already replaced is a machine
                    // that has not caught up, however its time compares with
                    // a merge's; it must not undo what replaced it.
                    if (decision.action == NoteDecision::Action::Store
                        && !(current && notes.isReplacedVersion(incoming)))
                        storeRevision(decision.note);
                } else if (!(current && sameVersion(incoming, current->note))) {
                    const std::string hash = versionHash(incoming);
                    // A receipt: taken in before, and its answer was lost.
                    if (!(current && notes.hasReceipt(incoming.noteid, base, hash))) {
                        std::optional<StoredNote> baseVersion;
                        std::string baseHash;
                        if (current && base == current->rev)
                            baseVersion = current->note;
                        else if (current && base > 0 && base < current->rev)
                            notes.keptVersion(incoming.noteid, base, baseVersion, baseHash);
                        const NoteDecision decision =
                            decideByRevision(incoming, base, current, baseVersion, baseHash);
                        if (decision.action == NoteDecision::Action::Store) {
                            storeRevision(decision.note);
                            notes.addReceipt(incoming.noteid, base, hash, after->rev);
                        } else if (decision.action == NoteDecision::Action::Copy) {
                            StoredNote copy = decision.note;
                            copy.noteid = conflictCopyId(incoming.noteid, base, hash);
                            if (!sent.count(copy.noteid) && !notes.held(copy.noteid)) {
                                notes.writeRevision(copy, std::nullopt);
                                ++accepted;
                            }
                            notes.addReceipt(incoming.noteid, base, hash, current->rev);
                        }
                    }
                }
                // The machine must hold the current copy at its revision; a
                // deletion is of no use to a machine that deleted the note too.
                const StoredNote &held = after->note;
                if (isDeletion(held))
                    sentBack[i] = isDeletion(incoming) ? No : ForChange;
                else if (!sameVersion(incoming, held))
                    sentBack[i] = ForChange;
                else
                    sentBack[i] = base != after->rev ? ForRevision : No;
                if (!keepsText)
                    dropText(incoming);
            }

            // The text sent has gone; what it held goes back to the system
            // before a large reply is written, instead of lying free beside it.
            if (body.size() >= trimAfterBytes && !keepsText)
                malloc_trim(0);

            // The notes of the reply, straight into its text; the message,
            // which counts them, comes after. Room for all the account's
            // notes is set aside first: pages never written cost no memory,
            // while growing a large reply would hold it twice.
            reply = "{\"status\":602,\"notes\":[";
            reply.reserve(notes.replyBytes());
            sentCount = 0;
            applyCount = 0;
            notes.takeAll([&](StoredNote &&kept, int64_t rev) {
                const auto it = sent.find(kept.noteid);
                const SentBack why = it == sent.end() ? (isDeletion(kept) ? No : ForChange) : sentBack[it->second];
                if (why == No)
                    return;
                applyCount += why == ForChange;
                if (sentCount++ > 0)
                    reply += ',';
                reply += noteJson(std::move(kept), rev);
            });
        });

        // A machine purges the deletions it sent only on a 602.
        if (sentCount == 0 && !sentDeletion) {
            ordered_json idle = ordered_json::object();
            idle["status"] = 601;
            idle["msg"] = isNew ? "Email configured" : "Up to date";
            return ServiceResponse{200, idle.dump()};
        }
        const std::string message =
            "Synced: " + countText(accepted) + " stored, " + countText(applyCount) + " to apply";
        reply += "],\"msg\":" + ordered_json(message).dump() + '}';
        return ServiceResponse{200, std::move(reply)};
    } catch (const StoreUnavailable &) {
        return unavailable();
    } catch (const std::bad_alloc &) {
        return ServiceResponse{503, messageBody(SyncService::busyMessage)};
    } catch (const std::exception &error) {
        return ServiceResponse{500, messageBody(std::string("Internal error: ") + error.what())};
    }
}

bool SyncService::isRegistered(const std::string &email)
{
    bool known = false;
    m_store->transact({}, true,
                      [&](SqlSession &db) { known = db.first("SELECT 1 FROM accounts WHERE email = ?", {email}); });
    return known;
}

std::vector<StoredNote> SyncService::notesOf(const std::string &email)
{
    std::vector<StoredNote> notes;
    m_store->transact({}, true, [&](SqlSession &db) {
        notes.clear();
        db.each(selectNotesSql, {email}, [&](const SqlRow &row) { notes.push_back(noteFromRow(row)); });
    });
    return notes;
}
