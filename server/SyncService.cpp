#include "SyncService.h"

#include "SyncRequestReader.h"

#include <SQLiteCpp/Transaction.h>
#include <nlohmann/json.hpp>

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

bool isDeletion(const StoredNote &note)
{
    return note.isdeleted == 1;
}

// A deletion marker needs the identifier, times and flags only.
void dropText(StoredNote &note)
{
    note.content.clear();
    note.title.clear();
    note.filelink.clear();
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

void appendNoteJson(std::string &out, StoredNote &&note)
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
    if (out.back() != '[')
        out += ',';
    out += object.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

// Machines keep the creation time they first saw, so it may differ between
// copies of one version.
bool sameVersion(StoredNote a, const StoredNote &b)
{
    a.createdtime = b.createdtime;
    return a == b;
}

// The newer copy wins. On a tie the copy sent is the later arrival and wins
// when it differs, unless the kept one is a deletion, which wins a tie.
bool supersedes(const StoredNote &incoming, const StoredNote &kept)
{
    if (incoming.lastmodifiedtime != kept.lastmodifiedtime)
        return incoming.lastmodifiedtime > kept.lastmodifiedtime;
    if (isDeletion(kept) && !isDeletion(incoming))
        return false;
    return !sameVersion(incoming, kept);
}

std::string countText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " note" : " notes");
}

} // namespace

SyncService::SyncService(const std::string &databasePath, std::size_t maxBodyBytes)
    : m_maxBodyBytes(maxBodyBytes)
    , m_db(openDatabase(databasePath))
    , m_knownAccount(m_db, "SELECT 1 FROM accounts WHERE email = ?")
    , m_addAccount(m_db, "INSERT INTO accounts (email, registeredtime) VALUES (?, ?)")
    , m_selectNotes(m_db,
                    std::string("SELECT ") + noteColumns
                        + " FROM notes WHERE email = ? ORDER BY lastmodifiedtime DESC, noteid")
    // The creation time stays as first recorded, as the clients keep it too.
    , m_writeNote(m_db,
                  std::string("INSERT INTO notes (email, ") + noteColumns
                      + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                        "ON CONFLICT (email, noteid) DO UPDATE SET content = excluded.content, "
                        "type = excluded.type, isdeleted = excluded.isdeleted, "
                        "lastmodifiedtime = excluded.lastmodifiedtime, title = excluded.title, "
                        "isfavorite = excluded.isfavorite, filelink = excluded.filelink")
{
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

    try {
        std::unordered_map<std::string_view, std::size_t> sent;
        sent.reserve(request.notes.size());
        for (std::size_t i = 0; i < request.notes.size(); ++i)
            sent.emplace(request.notes[i].noteid, i);
        std::vector<bool> toWrite(request.notes.size(), true);

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
            m_addAccount.bind(2, int64_t(std::time(nullptr)));
            m_addAccount.exec();
        }

        // What the machine must apply: notes it lacks (a deleted one is of no use
        // to a machine that lacks it), and the kept copy wherever the machine's
        // own did not win.
        std::string toApply = "[";
        std::size_t applyCount = 0;
        {
            ResetOnExit reset(m_selectNotes);
            m_selectNotes.bind(1, request.email);
            while (m_selectNotes.executeStep()) {
                StoredNote kept = noteFromRow(m_selectNotes);
                const auto it = sent.find(kept.noteid);
                bool wanted = false;
                if (it == sent.end()) {
                    wanted = !isDeletion(kept);
                } else {
                    const StoredNote &incoming = request.notes[it->second];
                    toWrite[it->second] = supersedes(incoming, kept);
                    wanted = !toWrite[it->second] && !sameVersion(incoming, kept);
                }
                if (wanted) {
                    appendNoteJson(toApply, std::move(kept));
                    ++applyCount;
                }
            }
        }
        toApply += ']';

        std::size_t accepted = 0;
        for (std::size_t i = 0; i < request.notes.size(); ++i) {
            if (!toWrite[i])
                continue;
            const StoredNote &note = request.notes[i];
            ResetOnExit reset(m_writeNote);
            m_writeNote.bind(1, request.email);
            m_writeNote.bind(2, note.noteid);
            m_writeNote.bind(3, note.content);
            m_writeNote.bind(4, note.type);
            m_writeNote.bind(5, note.isdeleted);
            m_writeNote.bind(6, note.createdtime);
            m_writeNote.bind(7, note.lastmodifiedtime);
            m_writeNote.bind(8, note.title);
            m_writeNote.bind(9, note.isfavorite);
            m_writeNote.bind(10, note.filelink);
            m_writeNote.exec();
            ++accepted;
        }
        transaction.commit();

        if (request.notes.empty() && applyCount == 0) {
            ordered_json reply = ordered_json::object();
            reply["status"] = 601;
            reply["msg"] = isNew ? "Email configured" : "Up to date";
            return ServiceResponse{200, reply.dump()};
        }
        const std::string message =
            "Synced: " + countText(accepted) + " stored, " + countText(applyCount) + " to apply";
        std::string reply = "{\"status\":602,\"msg\":" + ordered_json(message).dump() + ",\"notes\":";
        reply.reserve(reply.size() + toApply.size() + 1);
        reply += toApply;
        toApply = std::string();
        reply += '}';
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
