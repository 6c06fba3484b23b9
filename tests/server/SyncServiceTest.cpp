// The service's logic: what it refuses, how it merges, what it answers.

#include "ServerTestSupport.h"
#include "SyncRequestReader.h"
#include "SyncService.h"

#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <filesystem>

using nlohmann::ordered_json;

namespace {

class SyncServiceTest : public ::testing::TestWithParam<StoreKind> {
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

    // A small limit, so that passing it costs the test little.
    static constexpr std::size_t maxBody = 64 * 1024;
    TemporaryFolder folder;
    const std::string where = newStoreAddress(GetParam(), folder);
    SyncService service{where, maxBody};
};
INSTANTIATE_FOR_BOTH_STORES(SyncServiceTest);

// What only an SQLite file has: files from older versions, and its WAL.
using SqliteFileTest = SyncServiceTest;
INSTANTIATE_TEST_SUITE_P(Stores, SqliteFileTest, ::testing::Values(StoreKind::SQLite), storeKindName);

TEST_P(SyncServiceTest, BadInputIsRefusedAndChangesNothing)
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
        int status = 400;
    };
    // Inside an unknown member, so that only the value itself is wrong.
    const auto nested = [](std::size_t depth) {
        return "{\"email\":\"known@example.org\",\"ip\":\"\",\"notes\":[],\"extra\":" + std::string(depth, '[')
            + std::string(depth, ']') + "}";
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
        {"time beyond the double range", R"({"email":"known@example.org","ip":"","notes":[{"noteid":"fresh",
            "content":"new","type":1,"isdeleted":0,"createdtime":1,"lastmodifiedtime":1e400,"title":"",
            "isfavorite":0,"filelink":""}]})"},
        {"unknown member beyond the double range", R"({"email":"known@example.org","ip":"","notes":[],"x":-1e400})"},
        {"nested too deep", nested(maxRequestDepth)},
        {"rev zero", bodyWith([](ordered_json &b) { b["notes"][1]["rev"] = 0; })},
        {"rev negative", bodyWith([](ordered_json &b) { b["notes"][1]["rev"] = -3; })},
        {"rev a string", bodyWith([](ordered_json &b) { b["notes"][1]["rev"] = "1"; })},
        {"rev a fraction", bodyWith([](ordered_json &b) { b["notes"][1]["rev"] = 1.5; })},
        {"rev an object", bodyWith([](ordered_json &b) { b["notes"][1]["rev"] = ordered_json::object(); })},
        {"text after the object", syncBody("known@example.org") + " {}"},
        {"only opening brackets", std::string(maxBody, '[')},
        {"body over the limit", std::string(maxBody + 1, ' '), 413},
    };
    const std::pair<const char *, ordered_json> wrongTypes[] = {
        {"noteid", 1},        {"content", 1},      {"type", 1.0},   {"isdeleted", true},   {"createdtime", "1"},
        {"lastmodifiedtime", 2.5}, {"title", nullptr}, {"isfavorite", "0"}, {"filelink", ordered_json::array()},
    };
    for (const auto &[member, wrongValue] : wrongTypes) {
        const std::string name = member;
        const ordered_json wrong = wrongValue; // clang before 16 cannot capture a structured binding
        // The bad note comes second: the good one before it is not kept either.
        cases.push_back({name + " missing", bodyWith([&](ordered_json &b) { b["notes"][1].erase(name); })});
        cases.push_back({name + " mistyped", bodyWith([&](ordered_json &b) { b["notes"][1][name] = wrong; })});
    }

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ServiceResponse response = service.handleSync(c.body);
        EXPECT_EQ(response.httpStatus, c.status);
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

TEST_P(SyncServiceTest, FirstContactRegistersTheAddress)
{
    const ordered_json first = sync("Someone@Example.org");
    EXPECT_EQ(first, (ordered_json{{"status", 601}, {"msg", "Email configured"}}));
    EXPECT_TRUE(service.isRegistered("someone@example.org"));

    const ordered_json again = sync("someone@example.org");
    EXPECT_EQ(again.at("status"), 601);
    EXPECT_EQ(again.at("msg"), "Up to date");

    // A machine that sends notes without revisions gets each back with the
    // revision the service holds, so that it learns its base.
    const ordered_json withNotes = sync("someone@example.org", array({noteObject("n", "c", 5)}));
    EXPECT_EQ(withNotes.at("status"), 602);
    EXPECT_EQ(withNotes.at("notes"), array({withRev(noteObject("n", "c", 5), 1)}));
    // The user is told of changes, not of revisions learnt.
    EXPECT_EQ(withNotes.at("msg"), "Synced: 1 note stored, 0 notes to apply");

    // Sent with that revision, nothing is to apply.
    EXPECT_EQ(sync("someone@example.org", array({withRev(noteObject("n", "c", 5), 1)})),
              (ordered_json{{"status", 601}, {"msg", "Up to date"}}));
}

TEST_P(SyncServiceTest, NewerCopyWinsAndTheOlderSenderGetsIt)
{
    sync("u@x.org", array({noteObject("n", "version 10", 10)}));

    // An older copy is not taken; its sender gets the kept one.
    ordered_json reply = sync("u@x.org", array({noteObject("n", "version 5", 5)}));
    ASSERT_EQ(idsIn(reply), std::vector<std::string>{"n"});
    EXPECT_EQ(reply["notes"][0], withRev(noteObject("n", "version 10", 10), 1));

    // A newer copy replaces it as the next revision, which its sender learns.
    reply = sync("u@x.org", array({noteObject("n", "version 20", 20)}));
    EXPECT_EQ(reply["notes"], array({withRev(noteObject("n", "version 20", 20), 2)}));
    ASSERT_EQ(service.notesOf("u@x.org").size(), 1u);
    EXPECT_EQ(service.notesOf("u@x.org")[0].content, "version 20");

    // A machine without the note receives it.
    reply = sync("u@x.org");
    EXPECT_EQ(reply.at("status"), 602);
    EXPECT_EQ(idsIn(reply), std::vector<std::string>{"n"});
}

// Times are whole seconds: a save within the second of the one before it
// carries the same time. Without revisions the copy sent is the later arrival
// and wins unless the kept one is a deletion.
TEST_P(SyncServiceTest, SameSecondCopies)
{
    auto withCreated = [](ordered_json note, int64_t created) {
        note["createdtime"] = created;
        return note;
    };
    auto favourite = [](ordered_json note) {
        note["isfavorite"] = 1;
        return note;
    };
    struct Case {
        const char *name;
        ordered_json kept;     // the service's copy, from the first sync
        ordered_json incoming; // the same second's copy, sent next
        ordered_json stored;   // what the service keeps afterwards
        bool sentBack;         // whether the second sync gets the kept copy back
    };
    const Case cases[] = {
        {"one machine saves again", noteObject("n", "first save", 10), noteObject("n", "second save", 10),
         noteObject("n", "second save", 10), true},
        {"another machine's save", noteObject("n", "from A", 10), noteObject("n", "from B", 10),
         noteObject("n", "from B", 10), true},
        {"a favourite mark", noteObject("n", "text", 10), favourite(noteObject("n", "text", 10)),
         favourite(noteObject("n", "text", 10)), true},
        {"the same version, another creation time", noteObject("n", "text", 10),
         withCreated(noteObject("n", "text", 10), 7), noteObject("n", "text", 10), true},
        {"a deletion", noteObject("n", "text", 10), noteObject("n", "text", 10, 1), noteObject("n", "", 10, 1), false},
        {"a live copy against a deletion", noteObject("n", "text", 10, 1), noteObject("n", "edited", 10),
         noteObject("n", "", 10, 1), true},
        {"a deletion against a deletion", noteObject("n", "text", 10, 1), noteObject("n", "text", 10, 1),
         noteObject("n", "", 10, 1), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string email = std::string("tie-") + std::to_string(&c - cases) + "@x.org";
        sync(email, array({c.kept}));
        const ordered_json reply = sync(email, array({c.incoming}));

        const std::vector<StoredNote> kept = service.notesOf(email);
        ASSERT_EQ(kept.size(), 1u);
        const ordered_json &s = c.stored;
        EXPECT_EQ(kept[0].content, s["content"]);
        EXPECT_EQ(kept[0].isdeleted, s["isdeleted"]);
        EXPECT_EQ(kept[0].isfavorite, s["isfavorite"]);
        EXPECT_EQ(kept[0].createdtime, 1000); // as first recorded
        // Without revisions the machine learns the kept copy's, whoever won;
        // a deletion it sent that stands is not sent back.
        ASSERT_EQ(idsIn(reply).size(), c.sentBack ? 1u : 0u);
        if (c.sentBack) {
            EXPECT_EQ(reply["notes"][0].at("isdeleted"), s["isdeleted"]);
            EXPECT_EQ(reply["notes"][0].at("content"), s["content"]);
        }

        // A third machine without the note gets what is kept, unless it is a deletion.
        EXPECT_EQ(idsIn(sync(email)).size(), s["isdeleted"] == 1 ? 0u : 1u);
    }
}

// A deletion marker keeps identifier, times and flags; the text goes, also
// from markers that an earlier version of the file kept in full.
TEST_P(SyncServiceTest, DeletionMarkersKeepNoText)
{
    ordered_json deleted = noteObject("gone", "secret text", 20, 1);
    deleted["title"] = "secret title";
    deleted["filelink"] = "file:///secret";
    deleted["isfavorite"] = 1;
    sync("u@x.org", array({noteObject("gone", "secret text", 10)}));
    sync("u@x.org", array({deleted}));

    std::vector<StoredNote> kept = service.notesOf("u@x.org");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], (StoredNote{"gone", "", 1, 1, 1000, 20, "", 1, ""}));

    // A machine with the live copy learns of the deletion, not of the text.
    const ordered_json reply = sync("u@x.org", array({noteObject("gone", "secret text", 10)}));
    ASSERT_EQ(idsIn(reply), std::vector<std::string>{"gone"});
    EXPECT_EQ(reply["notes"][0], (ordered_json{{"noteid", "gone"}, {"content", ""}, {"type", 1}, {"isdeleted", 1},
                                               {"createdtime", 1000}, {"lastmodifiedtime", 20}, {"title", ""},
                                               {"isfavorite", 1}, {"filelink", ""}, {"rev", 2}}));
}

// A file written before revisions: every note is kept as its revision 1,
// markers lose their text, and machines go on from there.
TEST_P(SqliteFileTest, AnOlderFileIsTakenOver)
{
    const std::string path = (folder.path() / "old.db").string();
    {
        SQLite::Database db(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        db.exec("CREATE TABLE accounts (email TEXT PRIMARY KEY NOT NULL, registeredtime INTEGER NOT NULL)");
        db.exec("CREATE TABLE notes (email TEXT NOT NULL REFERENCES accounts (email), noteid TEXT NOT NULL, "
                "content TEXT NOT NULL, type INTEGER NOT NULL, isdeleted INTEGER NOT NULL, "
                "createdtime INTEGER NOT NULL, lastmodifiedtime INTEGER NOT NULL, title TEXT NOT NULL, "
                "isfavorite INTEGER NOT NULL, filelink TEXT NOT NULL, PRIMARY KEY (email, noteid))");
        db.exec("INSERT INTO accounts VALUES ('u@x.org', 1)");
        db.exec("INSERT INTO notes VALUES ('u@x.org', 'old', 'old text', 1, 1, 5, 6, 'old title', 0, 'link')");
        db.exec("INSERT INTO notes VALUES ('u@x.org', 'live', 'live text', 1, 0, 5, 6, 'live title', 0, 'link')");
        db.exec("INSERT INTO notes VALUES ('u@x.org', 'todo', '[]', 2, 0, 5, 7, '', 1, '')");
    }
    const std::vector<StoredNote> expected = {
        {"todo", "[]", 2, 0, 5, 7, "", 1, ""},
        {"live", "live text", 1, 0, 5, 6, "live title", 0, "link"},
        {"old", "", 1, 1, 5, 6, "", 0, ""},
    };
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        SyncService reopened(path);
        EXPECT_TRUE(reopened.isRegistered("u@x.org"));
        EXPECT_EQ(reopened.notesOf("u@x.org"), expected);
    }

    SyncService reopened(path);
    auto syncOld = [&](const ordered_json &notes) {
        const ServiceResponse response = reopened.handleSync(syncBody("u@x.org", notes));
        EXPECT_EQ(response.httpStatus, 200);
        return ordered_json::parse(response.body);
    };
    ordered_json live = noteObject("live", "live text", 6);
    live["title"] = "live title";
    live["createdtime"] = 5;
    live["filelink"] = "link";
    // A new machine receives the live notes at revision 1.
    const ordered_json first = syncOld(ordered_json::array());
    ASSERT_EQ(idsIn(first), (std::vector<std::string>{"todo", "live"}));
    EXPECT_EQ(first["notes"][1], withRev(live, 1));
    EXPECT_EQ(first["notes"][0].at("rev"), 1);
    // Holding revision 1 unchanged, it is up to date; an edit becomes revision 2.
    EXPECT_EQ(syncOld(first["notes"]).at("status"), 601);
    ordered_json held = first["notes"];
    held[1]["content"] = "live text, edited";
    held[1]["lastmodifiedtime"] = 8;
    const ordered_json stored = syncOld(held);
    ASSERT_EQ(idsIn(stored), std::vector<std::string>{"live"});
    EXPECT_EQ(stored["notes"][0].at("rev"), 2);
    EXPECT_EQ(syncOld(array({withRev(live, 1)}))["notes"][0]["content"], "live text, edited");
}

// Values of members the service does not know are skipped, however nested,
// up to the depth limit.
TEST_P(SyncServiceTest, UnknownMembersAreSkipped)
{
    ordered_json note = noteObject("n", "text", 10);
    note["colour"] = ordered_json{{"rgb", ordered_json::array({1, 2.5, nullptr, true, "x"})}};
    ordered_json body = ordered_json::parse(syncBody("u@x.org", array({note})));
    body["client"] = ordered_json::array({ordered_json::object(), ordered_json::array({1e300})});
    EXPECT_EQ(service.handleSync(body.dump()).httpStatus, 200);
    EXPECT_EQ(service.notesOf("u@x.org"), (std::vector<StoredNote>{{"n", "text", 1, 0, 1000, 10, "", 0, ""}}));

    // One level less than the refused case of the table above.
    const std::string deep = "{\"email\":\"u@x.org\",\"ip\":\"\",\"notes\":[],\"extra\":"
        + std::string(maxRequestDepth - 1, '[') + std::string(maxRequestDepth - 1, ']') + "}";
    EXPECT_EQ(service.handleSync(deep).httpStatus, 200);
}

// Each request's statements are done with before its commit, so checkpoints
// can start the WAL over and it stays small however many requests come.
TEST_P(SqliteFileTest, WalStaysSmall)
{
    const std::string padding(2000, 'p');
    for (int i = 0; i < 3000; ++i) {
        const std::string email = "user" + std::to_string(i % 10) + "@x.org";
        sync(email, array({noteObject("n" + std::to_string(i % 50), padding + std::to_string(i), 100 + i)}));
    }
    const auto wal = folder.path() / "service.db-wal";
    ASSERT_TRUE(std::filesystem::exists(wal));
    EXPECT_LT(std::filesystem::file_size(wal), 8u * 1024 * 1024);
}

TEST_P(SyncServiceTest, DeletionsReachOnlyMachinesThatStillHaveTheNote)
{
    sync("u@x.org", array({noteObject("gone", "c", 10), noteObject("stays", "s", 10)}));
    sync("u@x.org", array({noteObject("gone", "c", 20, 1)}));

    // A machine with the old live copy learns of the deletion (and, sending no
    // revisions, the revision of the note it holds).
    ordered_json reply = sync("u@x.org", array({noteObject("gone", "c", 10), noteObject("stays", "s", 10)}));
    ASSERT_EQ(idsIn(reply), (std::vector<std::string>{"gone", "stays"}));
    EXPECT_EQ(reply["notes"][0].at("isdeleted"), 1);

    // A machine that has purged it (or never had it) is not sent the marker.
    reply = sync("u@x.org", array({noteObject("stays", "s", 10)}));
    EXPECT_EQ(idsIn(reply), std::vector<std::string>{"stays"}); // only to learn its revision
    reply = sync("u@x.org");
    EXPECT_EQ(idsIn(reply), std::vector<std::string>{"stays"});

    // The marker itself is kept, not dropped.
    const auto kept = service.notesOf("u@x.org");
    ASSERT_EQ(kept.size(), 2u);
}

TEST_P(SyncServiceTest, AccountsAreSeparate)
{
    sync("a@x.org", array({noteObject("n", "for a", 10)}));
    EXPECT_EQ(sync("b@x.org").at("status"), 601);
    sync("b@x.org", array({noteObject("n", "for b", 99)}));
    EXPECT_EQ(service.notesOf("a@x.org")[0].content, "for a");
    EXPECT_EQ(service.notesOf("b@x.org")[0].content, "for b");
    EXPECT_EQ(idsIn(sync("A@X.org")), std::vector<std::string>{"n"}); // the address's case does not matter
}

TEST_P(SyncServiceTest, EverythingAcceptedSurvivesARestart)
{
    sync("u@x.org", array({noteObject("n", "caf\xC3\xA9 \xF0\x9F\x98\x80", 10)}));
    const auto before = service.notesOf("u@x.org");
    SyncService reopened(where);
    EXPECT_EQ(reopened.notesOf("u@x.org"), before);
    EXPECT_TRUE(reopened.isRegistered("u@x.org"));
}

} // namespace
