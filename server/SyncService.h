#pragma once

#include "StoredNote.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An HTTP status with its body, JSON unless said otherwise.
struct ServiceResponse {
    int httpStatus = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

// The sync service's logic over its SQLite file, apart from any transport.
//
// Every request names an account by e-mail address and carries that machine's
// notes. An unknown address is registered; each note sent is merged by
// "lastmodifiedtime": the newer copy wins. Times are whole seconds, so one
// machine saving twice within a second sends a copy of the same time: on such
// a tie the copy sent wins when it differs, as the later arrival, except over
// a deletion. The answer holds what the machine must apply to match the
// service, never a copy older than or equal to the one it sent.
// A note marked deleted is kept as a marker without its text, so machines that
// still have the note learn of the deletion.
class SyncService {
public:
    // Every sync carries all of a machine's notes, so the limit is what one
    // store may hold.
    static constexpr std::size_t defaultMaxBodyBytes = std::size_t(512) << 20;
    static constexpr const char *busyMessage = "The service is busy; try again shortly";

    explicit SyncService(const std::string &databasePath, std::size_t maxBodyBytes = defaultMaxBodyBytes);

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

    // Runs `work` on the service's connection while no sync runs, for the
    // tables kept beside the notes.
    template <class Work>
    decltype(auto) withDatabase(Work &&work)
    {
        std::lock_guard lock(m_mutex);
        return work(m_db);
    }

private:
    const std::size_t m_maxBodyBytes;
    std::mutex m_mutex;
    SQLite::Database m_db;
    // Prepared once; each use resets it, so no statement holds a read open
    // across a commit and the WAL can be checkpointed back to its start.
    SQLite::Statement m_knownAccount;
    SQLite::Statement m_addAccount;
    SQLite::Statement m_selectNotes;
    SQLite::Statement m_writeNote;
};
