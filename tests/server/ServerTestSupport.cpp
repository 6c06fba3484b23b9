#include "ServerTestSupport.h"

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

nlohmann::ordered_json withRev(nlohmann::ordered_json note, int64_t rev)
{
    note["rev"] = rev;
    return note;
}
