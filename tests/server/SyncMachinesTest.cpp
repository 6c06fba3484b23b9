// Two and three machines syncing one account through the service, each with
// its own clock and store, applying the replies as a client does.

#include "ServerTestSupport.h"
#include "SyncService.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <memory>

using nlohmann::ordered_json;

namespace {

const char *const email = "u@x.org";
constexpr int64_t t0 = 1'700'000'000;
const std::string fiveLines = "line one\nline two\nline three\nline four\nline five\n";

// One machine's store: its notes with the revision each was last agreed at.
class Machine {
public:
    Machine(SyncService &service, bool sendsRevisions = true)
        : m_service(service)
        , m_sendsRevisions(sendsRevisions)
    {
    }

    void create(const std::string &id, const std::string &content, int64_t time, int64_t type = 1)
    {
        ordered_json note = noteObject(id, content, time);
        note["type"] = type;
        note["createdtime"] = time;
        rows[id] = Row{note, 0};
    }
    void edit(const std::string &id, const std::string &content, int64_t time)
    {
        ordered_json &note = rows.at(id).note;
        note["content"] = content;
        note["lastmodifiedtime"] = time;
    }
    // Replaces the first `from` in the note's text.
    void replace(const std::string &id, const std::string &from, const std::string &to, int64_t time)
    {
        std::string content = rows.at(id).note["content"];
        const std::size_t at = content.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        edit(id, content.replace(at, from.size(), to), time);
    }
    void remove(const std::string &id, int64_t time)
    {
        ordered_json &note = rows.at(id).note;
        note["isdeleted"] = 1;
        note["lastmodifiedtime"] = time;
    }

    // Sends every row, soft-deleted ones too; applies the reply unless it is lost.
    ordered_json sync(bool replyLost = false)
    {
        ordered_json notes = ordered_json::array();
        for (const auto &[id, row] : rows)
            notes.push_back(m_sendsRevisions && row.rev > 0 ? withRev(row.note, row.rev) : row.note);
        const ServiceResponse response = m_service.handleSync(syncBody(email, notes));
        EXPECT_EQ(response.httpStatus, 200) << response.body;
        const ordered_json reply = ordered_json::parse(response.body);
        if (replyLost || reply.at("status") != 602)
            return reply;
        std::erase_if(rows, [](const auto &entry) { return entry.second.note["isdeleted"] == 1; });
        for (ordered_json note : reply.at("notes")) {
            const int64_t rev = note.at("rev");
            note.erase("rev");
            const std::string id = note.at("noteid");
            const auto found = rows.find(id);
            if (found != rows.end())
                note["createdtime"] = found->second.note["createdtime"]; // an update keeps it
            rows[id] = Row{note, rev};
        }
        return reply;
    }

    struct Row {
        ordered_json note;
        int64_t rev = 0;
        friend bool operator==(const Row &, const Row &) = default;
    };
    std::map<std::string, Row> rows;

private:
    SyncService &m_service;
    bool m_sendsRevisions;
};

class World {
public:
    World(StoreKind store, int machines, int legacyMachines = 0, HistoryBounds history = {})
        : path(newStoreAddress(store, folder)), service(path, SyncService::defaultMaxBodyBytes, std::move(history))
    {
        for (int i = 0; i < machines; ++i)
            m_machines.push_back(std::make_unique<Machine>(service));
        for (int i = 0; i < legacyMachines; ++i)
            m_machines.push_back(std::make_unique<Machine>(service, false));
    }
    Machine &operator[](std::size_t i) { return *m_machines.at(i); }
    std::size_t size() const { return m_machines.size(); }

    // The service's notes with their revisions, and how many old versions it keeps.
    std::map<std::string, Machine::Row> held()
    {
        std::map<std::string, Machine::Row> notes;
        reader().transact({}, true, [&](SqlSession &db) {
            notes.clear();
            db.each("SELECT noteid, content, type, isdeleted, createdtime, lastmodifiedtime, "
                    "title, isfavorite, filelink, rev FROM notes WHERE email = ?",
                    {email}, [&](const SqlRow &row) {
                        ordered_json note{{"noteid", row.text(0)},         {"content", row.text(1)},
                                          {"type", row.integer(2)},        {"isdeleted", row.integer(3)},
                                          {"createdtime", row.integer(4)}, {"lastmodifiedtime", row.integer(5)},
                                          {"title", row.text(6)},          {"isfavorite", row.integer(7)},
                                          {"filelink", row.text(8)}};
                        notes[note["noteid"]] = Machine::Row{note, row.integer(9)};
                    });
        });
        return notes;
    }
    int64_t rev(const std::string &id) { return held().at(id).rev; }
    int64_t keptVersions(const char *where = "TRUE")
    {
        int64_t count = 0;
        reader().transact({}, true, [&](SqlSession &db) {
            db.first(std::string("SELECT COUNT(*) FROM note_versions WHERE ") + where, {},
                     [&](const SqlRow &row) { count = row.integer(0); });
        });
        return count;
    }
    int64_t keptWhole() { return keptVersions("whole = 1"); }

    TemporaryFolder folder;
    const std::string path;
    SyncService service;

private:
    // A connection of its own, as an operator's would be.
    SqlStore &reader()
    {
        if (!m_reader)
            m_reader = openSqlStore(path);
        return *m_reader;
    }
    std::unique_ptr<SqlStore> m_reader;
    std::vector<std::unique_ptr<Machine>> m_machines;
};

// Each machine syncs after the last change, merges made meanwhile reaching
// the earlier ones in a second round; then every machine holds what the
// service holds, every word is there, there are `notes` notes, and a further
// sync changes nothing.
void expectAgreement(World &w, int machinesWithRevisions, const std::vector<std::string> &words, std::size_t notes)
{
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < w.size(); ++i)
            w[i].sync();
    }

    std::map<std::string, Machine::Row> live = w.held();
    std::erase_if(live, [](const auto &entry) { return entry.second.note["isdeleted"] == 1; });
    for (std::size_t i = 0; i < w.size(); ++i) {
        SCOPED_TRACE("machine " + std::to_string(i));
        if (i < std::size_t(machinesWithRevisions)) {
            EXPECT_EQ(w[i].rows, live);
        } else {
            // An older client learns revisions it does not send.
            ASSERT_EQ(w[i].rows.size(), live.size());
            for (const auto &[id, row] : live)
                EXPECT_EQ(w[i].rows.at(id).note, row.note);
        }
    }
    EXPECT_EQ(live.size(), notes);
    for (const std::string &word : words) {
        EXPECT_TRUE(std::any_of(live.begin(), live.end(), [&](const auto &entry) {
            return entry.second.note["content"].template get<std::string>().find(word) != std::string::npos;
        })) << word;
    }

    const auto settled = w.held();
    const int64_t versions = w.keptVersions();
    for (std::size_t i = 0; i < std::size_t(machinesWithRevisions); ++i)
        EXPECT_EQ(w[i].sync(), (ordered_json{{"status", 601}, {"msg", "Up to date"}}));
    EXPECT_EQ(w.held(), settled);
    EXPECT_EQ(w.keptVersions(), versions);
}

struct Case {
    const char *name;
    int machines;
    int legacyMachines;
    std::function<void(World &)> script;
    std::vector<std::string> words; // each in some note at the end
    std::size_t notes;              // notes at the end: more only where something conflicted
};

// Every machine with the note "n" of five lines at revision 1.
void shareFiveLines(World &w)
{
    w[0].create("n", fiveLines, t0);
    w[0].sync();
    for (std::size_t i = 1; i < w.size(); ++i)
        w[i].sync();
}

class SyncMachines : public ::testing::TestWithParam<StoreKind> {};
INSTANTIATE_FOR_BOTH_STORES(SyncMachines);

TEST_P(SyncMachines, EveryCaseEndsAlikeWithEveryWord)
{
    const Case cases[] = {
        {"both edit, on different lines", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line one", "alpha", t0 + 10);
             w[1].replace("n", "line five", "omega", t0 + 20);
             w[0].sync();
             w[1].sync();
         },
         {"alpha", "omega", "line three"}, 1},
        {"both edit the same line", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line three", "apple", t0 + 10);
             w[1].replace("n", "line three", "banana", t0 + 20);
             w[0].sync();
             w[1].sync();
         },
         {"apple", "banana"}, 2},
        {"an edit against a later deletion", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line two", "kept words", t0 + 10);
             w[0].sync();
             w[1].remove("n", t0 + 500);
             w[1].sync();
         },
         {"kept words"}, 1},
        {"a deletion against a later edit", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[1].remove("n", t0 + 10);
             w[1].sync();
             w[0].replace("n", "line two", "revived words", t0 + 500);
             w[0].sync();
         },
         {"revived words"}, 1},
        {"a deletion with nothing else changed", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[1].remove("n", t0 - 100); // a slow clock does not matter either
             w[1].sync();
         },
         {}, 0},
        {"both save in the same second", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].create("m", "shared line\n", t0);
             w[0].sync();
             w[1].sync();
             w[0].replace("n", "line one", "first machine", t0 + 10);
             w[1].replace("n", "line five", "second machine", t0 + 10);
             w[0].replace("m", "shared", "first", t0 + 10);
             w[1].replace("m", "shared", "second", t0 + 10);
             w[0].sync();
             w[1].sync();
         },
         {"first machine", "second machine", "first line", "second line"}, 3},
        {"one clock an hour slow", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].create("m", "untouched\n", t0);
             w[0].sync();
             w[1].sync();
             w[0].replace("n", "line one", "on time", t0 + 100);
             w[0].sync();
             // Edited after those syncs, stamped an hour earlier.
             w[1].replace("n", "line five", "an hour slow", t0 + 200 - 3600);
             w[1].replace("m", "untouched", "slow but later", t0 + 200 - 3600);
             w[1].sync();
         },
         {"on time", "an hour slow", "slow but later"}, 2},
        {"one clock in the year 3000", 2, 0,
         [](World &w) {
             const int64_t year3000 = 32'503'680'000;
             shareFiveLines(w);
             w[0].replace("n", "line one", "from the future", year3000);
             w[0].sync();
             w[1].sync();
             w[1].replace("n", "line two", "from today", t0 + 100);
             w[1].sync();
             w[0].replace("n", "line five", "future again", year3000 + 1);
             w[1].replace("n", "line three", "today again", t0 + 200);
             w[1].sync();
             w[0].sync();
         },
         {"from the future", "from today", "future again", "today again"}, 1},
        {"a time of INT64_MAX decides nothing", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line one", "stamped at the end of time", INT64_MAX);
             w[0].sync();
             w[1].sync();
             w[1].edit("n", "rewritten today\n", t0 + 100);
             w[1].sync();
         },
         {"rewritten today"}, 1},
        {"a to-do list ticked on one machine, edited and added to on the other", 2, 0,
         [](World &w) {
             w[0].create("t",
                         R"([{"id":"A","text":"milk","isCompleted":false},)"
                         R"({"id":"B","text":"bread","isCompleted":false}])",
                         t0, 2);
             w[0].sync();
             w[1].sync();
             w[0].edit("t",
                       R"([{"id":"A","text":"milk","isCompleted":true},)"
                       R"({"id":"B","text":"bread","isCompleted":false}])",
                       t0 + 10);
             w[1].edit("t",
                       R"([{"id":"A","text":"milk","isCompleted":false},)"
                       R"({"id":"B","text":"rye bread","isCompleted":false},)"
                       R"({"id":"C","text":"eggs","isCompleted":false}])",
                       t0 + 20);
             w[1].sync();
             w[0].sync();
         },
         {R"({"id":"A","text":"milk","isCompleted":true})", "rye bread", "eggs"}, 1},
        {"an older client that sends no bases", 1, 1,
         [](World &w) {
             shareFiveLines(w);
             w[1].replace("n", "line one", "older client", t0 + 50);
             w[1].sync();
             w[0].replace("n", "line five", "newer client", t0 + 20);
             w[0].sync();
             w[1].create("o", "from the older client\n", t0 + 60);
             w[1].sync();
         },
         {"older client", "newer client", "from the older client"}, 2},
        {"a reply lost in transit, the request repeated", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].create("m", "shared line\n", t0);
             w[0].sync();
             w[1].sync();
             w[0].replace("n", "line one", "merged once", t0 + 10);
             w[1].replace("n", "line five", "lost reply", t0 + 20);
             w[0].replace("m", "shared", "first", t0 + 10);
             w[1].replace("m", "shared", "second", t0 + 20);
             w[1].create("new", "never synced\n", t0 + 20);
             w[0].sync();
             w[1].sync(true);
             const auto before = w.held();
             const int64_t versions = w.keptVersions();
             w[1].sync(true);
             w[1].sync();
             EXPECT_EQ(w.held(), before);
             EXPECT_EQ(w.keptVersions(), versions);
         },
         {"merged once", "lost reply", "first line", "second line", "never synced"}, 4},
        {"a lost reply, then a change elsewhere before the repeat", 2, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line one", "sent once", t0 + 10);
             w[0].sync(true);
             w[1].sync();
             w[1].replace("n", "sent once", "changed after", t0 + 20);
             w[1].sync();
             w[0].sync();
         },
         {"changed after"}, 1},
        {"three machines edit different lines", 3, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line one", "from A", t0 + 10);
             w[1].replace("n", "line three", "from B", t0 + 10);
             w[2].replace("n", "line five", "from C", t0 + 10);
             w[2].sync();
             w[1].sync();
             w[0].sync();
         },
         {"from A", "from B", "from C"}, 1},
        {"three machines: two edit one line, the third deletes", 3, 0,
         [](World &w) {
             shareFiveLines(w);
             w[0].replace("n", "line two", "from A", t0 + 10);
             w[1].replace("n", "line two", "from B", t0 + 10);
             w[2].remove("n", t0 + 30);
             w[0].sync();
             w[1].sync();
             w[2].sync();
         },
         {"from A", "from B"}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        World w(GetParam(), c.machines, c.legacyMachines);
        c.script(w);
        expectAgreement(w, c.machines, c.words, c.notes);
    }
}

// Within its bounds the service merges against the base version; beyond
// them it knows an unchanged copy by its hash, and keeps a changed copy whose
// base it no longer has beside the current one.
TEST_P(SyncMachines, HistoryStaysWithinItsBounds)
{
    int64_t clock = t0;
    const HistoryBounds bounds{3, 1000, 5, 3000, [&clock] { return clock; }};
    World w(GetParam(), 3, 0, bounds);
    shareFiveLines(w);
    w[2].replace("n", "line five", "away too long", t0 + 1);
    for (int i = 1; i <= 6; ++i) {
        w[0].replace("n", i == 1 ? "line one" : "edit " + std::to_string(i - 1), "edit " + std::to_string(i), t0 + i);
        w[0].sync();
        if (i == 4)
            w[1].sync(); // unchanged since revision 1, kept only as its hash by now
    }
    EXPECT_EQ(w.rev("n"), 7);
    EXPECT_EQ(w.keptWhole(), 3);
    EXPECT_EQ(w.keptVersions(), 5);
    EXPECT_EQ(w.held().size(), 1u);

    // Revision 5 is still kept whole: merged. Revision 1 is gone: kept beside.
    w[1].replace("n", "line three", "within bounds", t0 + 10);
    w[1].sync();
    EXPECT_EQ(w.held().size(), 1u);
    w[2].sync();
    expectAgreement(w, 3, {"edit 6", "within bounds", "away too long"}, 2);

    // Replaced text goes once older than its bound, hashes later.
    clock += 2000;
    w[0].replace("n", "edit 6", "much later", t0 + 20);
    w[0].sync();
    EXPECT_EQ(w.keptWhole(), 1);
    EXPECT_EQ(w.keptVersions(), 5);
    clock += 2000;
    { SyncService reopened(w.path, SyncService::defaultMaxBodyBytes, bounds); }
    EXPECT_EQ(w.keptWhole(), 0);
    EXPECT_EQ(w.keptVersions(), 1);
    EXPECT_EQ(w.keptVersions("content <> ''"), 0);
}

} // namespace
