#pragma once

#include "SqlStore.h"
#include "StoredNote.h"
#include "SyncRules.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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

// The sync service's logic over its store (an SQLite file or PostgreSQL),
// apart from any transport. Each request is one transaction, and requests of
// one account take their turn in the database, so any number of services may
// share one PostgreSQL.
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

    // `where` as openSqlStore takes it: a file path or a postgresql:// address.
    explicit SyncService(const std::string &where, std::size_t maxBodyBytes = defaultMaxBodyBytes,
                         HistoryBounds history = {});
    SyncService(std::unique_ptr<SqlStore> store, std::size_t maxBodyBytes = defaultMaxBodyBytes,
                HistoryBounds history = {});

    // Handles one POST /api/sync body. Bad input gets 400 (413 past the size
    // limit) and changes nothing, as does a request that finds memory short
    // (503, busyMessage) or a database that stays unreachable (503 with
    // Retry-After); each accepted request is one transaction.
    ServiceResponse handleSync(std::string_view body);

    // What the service keeps, for inspection.
    bool isRegistered(const std::string &email);
    std::vector<StoredNote> notesOf(const std::string &email);

    std::size_t maxBodyBytes() const { return m_maxBodyBytes; }

    // {"msg": text}
    static std::string messageBody(const std::string &message);

    // The store, for the tables kept beside the notes.
    SqlStore &store() { return *m_store; }

    // The answer to a request the store could not take for now.
    static ServiceResponse unavailable();

private:
    int64_t now() const;

    const std::size_t m_maxBodyBytes;
    const HistoryBounds m_history;
    std::unique_ptr<SqlStore> m_store;
};
