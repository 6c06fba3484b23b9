#pragma once

#include <SQLiteCpp/Database.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One note as the service keeps it for an account.
struct StoredNote {
    std::string noteid;
    std::string content;
    int64_t type = 1;
    int64_t isdeleted = 0;
    int64_t createdtime = 0;
    int64_t lastmodifiedtime = 0;
    std::string title;
    int64_t isfavorite = 0;
    std::string filelink;

    friend bool operator==(const StoredNote &, const StoredNote &) = default;
};

// An HTTP status with its JSON body.
struct ServiceResponse {
    int httpStatus = 200;
    std::string body;
};

// The sync service's logic over its SQLite file, apart from any transport.
//
// Every request names an account by e-mail address and carries that machine's
// notes. An unknown address is registered; each note sent is merged by
// "lastmodifiedtime" (the newer copy wins; on a tie a deletion, else the copy
// already kept);
// the answer holds what the machine must apply to match the service.
// A note marked deleted is kept, so machines that still have it learn of it.
class SyncService {
public:
    // Largest request body accepted.
    static constexpr std::size_t maxBodyBytes = 16 * 1024 * 1024;

    explicit SyncService(const std::string &databasePath);

    // Handles one POST /api/sync body. Bad input gets 400 and changes nothing;
    // each accepted request is one transaction.
    ServiceResponse handleSync(const std::string &body);

    // What the service keeps, for inspection.
    bool isRegistered(const std::string &email);
    std::vector<StoredNote> notesOf(const std::string &email);

    // {"msg": text}
    static std::string messageBody(const std::string &message);

private:
    std::mutex m_mutex;
    SQLite::Database m_db;
};
