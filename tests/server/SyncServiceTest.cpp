// The service's logic: what it refuses, how it merges, what it answers.

#include "ServerTestSupport.h"
#include "SyncService.h"

#include <gtest/gtest.h>

using nlohmann::ordered_json;

namespace {

class SyncServiceTest : public ::testing::Test {
protected:
    // The service's answer, parsed; fails the test unless it is 200.
    ordered_json sync(const std::string &email, const ordered_json &notes = ordered_json::array())
    {
        const ServiceResponse response = service.handleSync(syncBody(email, notes));
        EXPECT_EQ(response.httpStatus, 200) << response.body;
        return ordered_json::parse(response.body);
    }
    static std::vector<std::string> idsIn(const ordered_json &reply)
    {
        std::vector<std::string> ids;
        for (const auto &note : reply.value("notes", ordered_json::array()))
            ids.push_back(note.at("noteid"));
        return ids;
    }
    static ordered_json array(std::initializer_list<ordered_json> notes) { return ordered_json(notes); }

    TemporaryFolder folder;
    SyncService service{(folder.path() / "service.db").string()};
};

TEST_F(SyncServiceTest, BadInputIsRefusedAndChangesNothing)
{
    sync("known@example.org", array({noteObject("kept", "as it was", 10)}));
    const std::vector<StoredNote> before = service.notesOf("known@example.org");

    auto bodyWith = [](const std::function<void(ordered_json &)> &change) {
        ordered_json body = ordered_json::parse(syncBody("known@example.org", ordered_json::array({
            noteObject("kept", "overwritten", 99), noteObject("fresh", "new", 99)})));
        change(body);
        return body.dump();
    };
    struct Case {
        std::string name;
        std::string body;
    };
    std::vector<Case> cases = {
        {"empty body", ""},
        {"malformed JSON", "{\"email\": "},
        {"top-level array", "[]"},
        {"not UTF-8", "{\"email\":\"\xFF\",\"ip\":\"\",\"notes\":[]}"},
        {"email missing", bodyWith([](ordered_json &b) { b.erase("email"); })},
        {"email not a string", bodyWith([](ordered_json &b) { b["email"] = 5; })},
        {"email empty", bodyWith([](ordered_json &b) { b["email"] = ""; })},
        {"ip missing", bodyWith([](ordered_json &b) { b.erase("ip"); })},
        {"ip not a string", bodyWith([](ordered_json &b) { b["ip"] = nullptr; })},
        {"notes missing", bodyWith([](ordered_json &b) { b.erase("notes"); })},
        {"notes an object", bodyWith([](ordered_json &b) { b["notes"] = ordered_json::object(); })},
        {"a note not an object", bodyWith([](ordered_json &b) { b["notes"].push_back(3); })},
        {"empty noteid", bodyWith([](ordered_json &b) { b["notes"][1]["noteid"] = ""; })},
        {"noteid twice", bodyWith([](ordered_json &b) { b["notes"][1]["noteid"] = "kept"; })},
        {"time beyond 64 bits", bodyWith([](ordered_json &b) { b["notes"][1]["lastmodifiedtime"] = UINT64_MAX; })},
        {"body over the limit", std::string(SyncService::maxBodyBytes + 1, ' ')},
    };
    const std::pair<const char *, ordered_json> wrongTypes[] = {
        {"noteid", 1},        {"content", 1},      {"type", 1.0},   {"isdeleted", true},   {"createdtime", "1"},
        {"lastmodifiedtime", 2.5}, {"title", nullptr}, {"isfavorite", "0"}, {"filelink", ordered_json::array()},
    };
    for (const auto &[member, wrong] : wrongTypes) {
        const std::string name = member;
        // The bad note comes second: the good one before it is not kept either.
        cases.push_back({name + " missing", bodyWith([&](ordered_json &b) { b["notes"][1].erase(name); })});
        cases.push_back({name + " mistyped", bodyWith([&](ordered_json &b) { b["notes"][1][name] = wrong; })});
    }

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ServiceResponse response = service.handleSync(c.body);
        EXPECT_EQ(response.httpStatus, 400);
        const ordered_json reply = ordered_json::parse(response.body);
        ASSERT_TRUE(reply.contains("msg") && reply["msg"].is_string());
        EXPECT_FALSE(reply["msg"].get<std::string>().empty());
        EXPECT_FALSE(reply.contains("status"));
    }
    EXPECT_EQ(service.notesOf("known@example.org"), before);

    // A new address in a refused request is not registered either.
    ordered_json stranger = ordered_json::parse(syncBody("new@example.org", array({noteObject("x", "y", 1)})));
    stranger["notes"][0].erase("title");
    EXPECT_EQ(service.handleSync(stranger.dump()).httpStatus, 400);
    EXPECT_FALSE(service.isRegistered("new@example.org"));
}

TEST_F(SyncServiceTest, FirstContactRegistersTheAddress)
{
    const ordered_json first = sync("Someone@Example.org");
    EXPECT_EQ(first, (ordered_json{{"status", 601}, {"msg", "Email configured"}}));
    EXPECT_TRUE(service.isRegistered("someone@example.org"));

    const ordered_json again = sync("someone@example.org");
    EXPECT_EQ(again.at("status"), 601);
    EXPECT_EQ(again.at("msg"), "Up to date");

    // Sending notes always gets 602, even with nothing to apply.
    const ordered_json withNotes = sync("someone@example.org", array({noteObject("n", "c", 5)}));
    EXPECT_EQ(withNotes.at("status"), 602);
    EXPECT_EQ(withNotes.at("notes"), ordered_json::array());
    EXPECT_TRUE(withNotes.at("msg").is_string());
}

TEST_F(SyncServiceTest, NewerCopyWinsAndTheOlderSenderGetsIt)
{
    sync("u@x.org", array({noteObject("n", "version 10", 10)}));

    // An older copy is not taken; its sender gets the kept one.
    ordered_json reply = sync("u@x.org", array({noteObject("n", "version 5", 5)}));
    ASSERT_EQ(idsIn(reply), std::vector<std::string>{"n"});
    EXPECT_EQ(reply["notes"][0], noteObject("n", "version 10", 10));

    // A newer copy replaces it and goes back to nobody who sent it.
    reply = sync("u@x.org", array({noteObject("n", "version 20", 20)}));
    EXPECT_TRUE(idsIn(reply).empty());
    ASSERT_EQ(service.notesOf("u@x.org").size(), 1u);
    EXPECT_EQ(service.notesOf("u@x.org")[0].content, "version 20");

    // A machine without the note receives it.
    reply = sync("u@x.org");
    EXPECT_EQ(reply.at("status"), 602);
    EXPECT_EQ(idsIn(reply), std::vector<std::string>{"n"});
}

TEST_F(SyncServiceTest, TiesKeepTheServiceCopyExceptForADeletion)
{
    sync("u@x.org", array({noteObject("n", "first", 10)}));

    // Same second, other content: the kept copy stays and is sent back.
    ordered_json reply = sync("u@x.org", array({noteObject("n", "second", 10)}));
    ASSERT_EQ(idsIn(reply), std::vector<std::string>{"n"});
    EXPECT_EQ(reply["notes"][0].at("content"), "first");

    // Same second, same content but another creation time: nothing to apply.
    ordered_json sameVersion = noteObject("n", "first", 10);
    sameVersion["createdtime"] = 7;
    EXPECT_TRUE(idsIn(sync("u@x.org", array({sameVersion}))).empty());
    EXPECT_EQ(service.notesOf("u@x.org")[0].createdtime, 1000);

    // Same second, deleted: the deletion wins.
    reply = sync("u@x.org", array({noteObject("n", "first", 10, 1)}));
    EXPECT_TRUE(idsIn(reply).empty());
    EXPECT_EQ(service.notesOf("u@x.org")[0].isdeleted, 1);
}

TEST_F(SyncServiceTest, DeletionsReachOnlyMachinesThatStillHaveTheNote)
{
    sync("u@x.org", array({noteObject("gone", "c", 10), noteObject("stays", "s", 10)}));
    sync("u@x.org", array({noteObject("gone", "c", 20, 1)}));

    // A machine with the old live copy learns of the deletion.
    ordered_json reply = sync("u@x.org", array({noteObject("gone", "c", 10), noteObject("stays", "s", 10)}));
    ASSERT_EQ(idsIn(reply), std::vector<std::string>{"gone"});
    EXPECT_EQ(reply["notes"][0].at("isdeleted"), 1);

    // A machine that has purged it (or never had it) is not sent the marker.
    reply = sync("u@x.org", array({noteObject("stays", "s", 10)}));
    EXPECT_TRUE(idsIn(reply).empty());
    reply = sync("u@x.org");
    EXPECT_EQ(idsIn(reply), std::vector<std::string>{"stays"});

    // The marker itself is kept, not dropped.
    const auto kept = service.notesOf("u@x.org");
    ASSERT_EQ(kept.size(), 2u);
}

TEST_F(SyncServiceTest, AccountsAreSeparate)
{
    sync("a@x.org", array({noteObject("n", "for a", 10)}));
    EXPECT_EQ(sync("b@x.org").at("status"), 601);
    sync("b@x.org", array({noteObject("n", "for b", 99)}));
    EXPECT_EQ(service.notesOf("a@x.org")[0].content, "for a");
    EXPECT_EQ(service.notesOf("b@x.org")[0].content, "for b");
    EXPECT_EQ(idsIn(sync("A@X.org")), std::vector<std::string>{"n"}); // the address's case does not matter
}

TEST_F(SyncServiceTest, EverythingAcceptedSurvivesARestart)
{
    sync("u@x.org", array({noteObject("n", "caf\xC3\xA9 \xF0\x9F\x98\x80", 10)}));
    const auto before = service.notesOf("u@x.org");
    SyncService reopened((folder.path() / "service.db").string());
    EXPECT_EQ(reopened.notesOf("u@x.org"), before);
    EXPECT_TRUE(reopened.isRegistered("u@x.org"));
}

} // namespace
