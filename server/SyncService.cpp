#include "SyncService.h"

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

using nlohmann::ordered_json;

namespace {

// A request the service refuses; what() is the message sent back.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const std::string &stringMember(const ordered_json &object, const char *key, const std::string &where)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw BadRequest(where + "\"" + key + "\" must be a string");
    return it->get_ref<const std::string &>();
}

int64_t integerMember(const ordered_json &object, const char *key, const std::string &where)
{
    const auto it = object.find(key);
    const std::string complaint = where + "\"" + key + "\" must be a 64-bit integer";
    if (it == object.end() || !it->is_number_integer())
        throw BadRequest(complaint);
    if (it->is_number_unsigned() && it->get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max()))
        throw BadRequest(complaint);
    return it->get<int64_t>();
}

StoredNote readNote(const ordered_json &object, std::size_t index)
{
    const std::string where = "notes[" + std::to_string(index) + "]: ";
    if (!object.is_object())
        throw BadRequest(where + "must be an object");
    StoredNote note;
    note.noteid = stringMember(object, "noteid", where);
    if (note.noteid.empty())
        throw BadRequest(where + "\"noteid\" must not be empty");
    note.content = stringMember(object, "content", where);
    note.type = integerMember(object, "type", where);
    note.isdeleted = integerMember(object, "isdeleted", where);
    note.createdtime = integerMember(object, "createdtime", where);
    note.lastmodifiedtime = integerMember(object, "lastmodifiedtime", where);
    note.title = stringMember(object, "title", where);
    note.isfavorite = integerMember(object, "isfavorite", where);
    note.filelink = stringMember(object, "filelink", where);
    return note;
}

struct SyncRequest {
    std::string email;
    std::vector<StoredNote> notes;
};

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

SyncRequest readRequest(const std::string &body)
{
    if (body.size() > SyncService::maxBodyBytes)
        throw BadRequest("Request body too large");
    ordered_json json;
    try {
        json = ordered_json::parse(body);
    } catch (const ordered_json::parse_error &error) {
        throw BadRequest(std::string("Malformed JSON: ") + error.what());
    }
    if (!json.is_object())
        throw BadRequest("The request must be a JSON object");

    SyncRequest request;
    request.email = lowerAscii(stringMember(json, "email", ""));
    if (request.email.empty())
        throw BadRequest("\"email\" must not be empty");
    stringMember(json, "ip", "");
    const auto notes = json.find("notes");
    if (notes == json.end() || !notes->is_array())
        throw BadRequest("\"notes\" must be an array");

    std::map<std::string, bool> seen;
    for (std::size_t i = 0; i < notes->size(); ++i) {
        StoredNote note = readNote((*notes)[i], i);
        if (!seen.emplace(note.noteid, true).second)
            throw BadRequest("notes[" + std::to_string(i) + "]: \"noteid\" appears twice");
        request.notes.push_back(std::move(note));
    }
    return request;
}

ordered_json noteJson(const StoredNote &note)
{
    ordered_json object = ordered_json::object();
    object["noteid"] = note.noteid;
    object["content"] = note.content;
    object["type"] = note.type;
    object["isdeleted"] = note.isdeleted;
    object["createdtime"] = note.createdtime;
    object["lastmodifiedtime"] = note.lastmodifiedtime;
    object["title"] = note.title;
    object["isfavorite"] = note.isfavorite;
    object["filelink"] = note.filelink;
    return object;
}

StoredNote noteFromRow(SQLite::Statement &row)
{
    StoredNote note;
    note.noteid = row.getColumn("noteid").getString();
    note.content = row.getColumn("content").getString();
    note.type = row.getColumn("type").getInt64();
    note.isdeleted = row.getColumn("isdeleted").getInt64();
    note.createdtime = row.getColumn("createdtime").getInt64();
    note.lastmodifiedtime = row.getColumn("lastmodifiedtime").getInt64();
    note.title = row.getColumn("title").getString();
    note.isfavorite = row.getColumn("isfavorite").getInt64();
    note.filelink = row.getColumn("filelink").getString();
    return note;
}

std::vector<StoredNote> selectNotes(SQLite::Database &db, const std::string &email)
{
    SQLite::Statement query(db, "SELECT * FROM notes WHERE email = ? ORDER BY lastmodifiedtime DESC, noteid");
    query.bind(1, email);
    std::vector<StoredNote> notes;
    while (query.executeStep())
        notes.push_back(noteFromRow(query));
    return notes;
}

void writeNote(SQLite::Database &db, const std::string &email, const StoredNote &note)
{
    // The creation time stays as first recorded, as the clients keep it too.
    SQLite::Statement write(db,
                            "INSERT INTO notes (email, noteid, content, type, isdeleted, createdtime, "
                            "lastmodifiedtime, title, isfavorite, filelink) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                            "ON CONFLICT (email, noteid) DO UPDATE SET content = excluded.content, "
                            "type = excluded.type, isdeleted = excluded.isdeleted, "
                            "lastmodifiedtime = excluded.lastmodifiedtime, title = excluded.title, "
                            "isfavorite = excluded.isfavorite, filelink = excluded.filelink");
    write.bind(1, email);
    write.bind(2, note.noteid);
    write.bind(3, note.content);
    write.bind(4, note.type);
    write.bind(5, note.isdeleted);
    write.bind(6, note.createdtime);
    write.bind(7, note.lastmodifiedtime);
    write.bind(8, note.title);
    write.bind(9, note.isfavorite);
    write.bind(10, note.filelink);
    write.exec();
}

// Machines keep the creation time they first saw, so it may differ between
// copies of one version.
bool sameVersion(StoredNote a, const StoredNote &b)
{
    a.createdtime = b.createdtime;
    return a == b;
}

// The newer copy wins. Times are whole seconds, so a tie is common; a deletion
// then wins over a live copy, and otherwise the copy already kept stays.
bool supersedes(const StoredNote &incoming, const StoredNote &kept)
{
    if (incoming.lastmodifiedtime != kept.lastmodifiedtime)
        return incoming.lastmodifiedtime > kept.lastmodifiedtime;
    return incoming.isdeleted == 1 && kept.isdeleted != 1;
}

std::string countText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " note" : " notes");
}

} // namespace

SyncService::SyncService(const std::string &databasePath)
    : m_db(databasePath, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_FULLMUTEX)
{
    m_db.exec("PRAGMA journal_mode = WAL");
    m_db.exec("PRAGMA synchronous = FULL");
    m_db.exec("CREATE TABLE IF NOT EXISTS accounts ("
              "email TEXT PRIMARY KEY NOT NULL, registeredtime INTEGER NOT NULL)");
    m_db.exec("CREATE TABLE IF NOT EXISTS notes ("
              "email TEXT NOT NULL REFERENCES accounts (email), noteid TEXT NOT NULL, "
              "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
              "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
              "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, PRIMARY KEY (email, noteid))");
}

std::string SyncService::messageBody(const std::string &message)
{
    ordered_json body = ordered_json::object();
    body["msg"] = message;
    return body.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ServiceResponse SyncService::handleSync(const std::string &body)
{
    SyncRequest request;
    try {
        request = readRequest(body);
    } catch (const BadRequest &error) {
        return ServiceResponse{400, messageBody(error.what())};
    }

    try {
        std::lock_guard lock(m_mutex);
        SQLite::Transaction transaction(m_db);

        SQLite::Statement known(m_db, "SELECT 1 FROM accounts WHERE email = ?");
        known.bind(1, request.email);
        const bool isNew = !known.executeStep();
        if (isNew) {
            SQLite::Statement add(m_db, "INSERT INTO accounts (email, registeredtime) VALUES (?, ?)");
            add.bind(1, request.email);
            add.bind(2, int64_t(std::time(nullptr)));
            add.exec();
        }

        std::map<std::string, const StoredNote *> sent;
        for (const StoredNote &note : request.notes)
            sent.emplace(note.noteid, &note);

        std::size_t accepted = 0;
        std::map<std::string, StoredNote> kept;
        for (StoredNote &note : selectNotes(m_db, request.email))
            kept.emplace(note.noteid, std::move(note));
        for (const StoredNote &note : request.notes) {
            const auto it = kept.find(note.noteid);
            if (it != kept.end() && !supersedes(note, it->second))
                continue;
            writeNote(m_db, request.email, note);
            ++accepted;
        }

        // What the machine must apply: notes it lacks (a deleted one is of no use
        // to a machine that lacks it), and the service's copy wherever the
        // machine sent an older one or a different one of the same time.
        ordered_json toApply = ordered_json::array();
        for (const StoredNote &note : selectNotes(m_db, request.email)) {
            const auto it = sent.find(note.noteid);
            const bool wanted = it == sent.end()
                ? note.isdeleted != 1
                : it->second->lastmodifiedtime < note.lastmodifiedtime
                    || (it->second->lastmodifiedtime == note.lastmodifiedtime && !sameVersion(*it->second, note));
            if (wanted)
                toApply.push_back(noteJson(note));
        }
        transaction.commit();

        ordered_json reply = ordered_json::object();
        if (request.notes.empty() && toApply.empty()) {
            reply["status"] = 601;
            reply["msg"] = isNew ? "Email configured" : "Up to date";
        } else {
            reply["status"] = 602;
            reply["msg"] = "Synced: " + countText(accepted) + " stored, " + countText(toApply.size()) + " to apply";
            reply["notes"] = std::move(toApply);
        }
        return ServiceResponse{200, reply.dump()};
    } catch (const std::exception &error) {
        return ServiceResponse{500, messageBody(std::string("Internal error: ") + error.what())};
    }
}

bool SyncService::isRegistered(const std::string &email)
{
    std::lock_guard lock(m_mutex);
    SQLite::Statement known(m_db, "SELECT 1 FROM accounts WHERE email = ?");
    known.bind(1, email);
    return known.executeStep();
}

std::vector<StoredNote> SyncService::notesOf(const std::string &email)
{
    std::lock_guard lock(m_mutex);
    return selectNotes(m_db, email);
}
