#pragma once

#include <cstdint>
#include <string>

// One note as the service keeps it for an account, with the members of the
// note object that machines send and receive.
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
