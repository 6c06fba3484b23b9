#pragma once

#include "StoredNote.h"

#include <stdexcept>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A request the service refuses; what() is the message sent back.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SyncRequest {
    std::string email; // lower-cased
    std::vector<StoredNote> notes;
    // Per note, the "rev" it carried: the revision its machine last agreed
    // with the service; 0 for a note that carried none.
    std::vector<int64_t> bases;
};

// Reads a sync request body straight into notes, without building a JSON
// tree: a body costs about its own size once more, whatever it holds. Values
// of members the service does not know are skipped, down to `maxDepth` levels
// of nesting. Throws BadRequest for anything that is not a well-formed request.
SyncRequest readSyncRequest(std::string_view body);

constexpr int maxRequestDepth = 32;
