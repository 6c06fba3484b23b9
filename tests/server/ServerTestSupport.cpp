#include "ServerTestSupport.h"

#include <cstdio>
#include <mutex>
#include <random>

nlohmann::ordered_json noteObject(const std::string &id, const std::string &content, int64_t modified, int64_t deleted)
{
    return nlohmann::ordered_json{{"noteid", id},         {"content", content},
                                  {"type", 1},            {"isdeleted", deleted},
                                  {"createdtime", 1000},  {"lastmodifiedtime", modified},
                                  {"title", ""},          {"isfavorite", 0},
                                  {"filelink", ""}};
}

std::string syncBody(const std::string &email, const nlohmann::ordered_json &notes)
{
    return nlohmann::ordered_json{{"email", email}, {"ip", "127.0.0.1"}, {"notes", notes}}.dump();
}

std::string newMachineSecret()
{
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    char digits[65];
    for (int i = 0; i < 64; i += 16)
        std::snprintf(digits + i, 17, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(digits, 64);
}

httplib::Headers machineHeaders(const std::string &secret)
{
    static const std::string kept = newMachineSecret();
    return {{"Authorization", "Bearer " + (secret.empty() ? kept : secret)}};
}

nlohmann::ordered_json withRev(nlohmann::ordered_json note, int64_t rev)
{
    note["rev"] = rev;
    return note;
}

std::string newStoreAddress(StoreKind kind, const TemporaryFolder &folder)
{
    if (kind == StoreKind::SQLite)
        return (folder.path() / "service.db").string();
    return PostgresCluster::shared().newDatabase();
}
