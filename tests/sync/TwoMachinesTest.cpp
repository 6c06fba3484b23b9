// Two and three machines (homes used one after the other, each with its own
// clock) syncing through a real tovik-sync-server process on loopback.

#include "DBManager.h"
#include "StoreStatement.h"
#include "SyncBases.h"
#include "SyncManager.h"
#include "TodoItem.h"
#include "support/CannedServer.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroTask>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>

namespace {

// One machine: its own home with its own store and its own clock.
struct Machine {
    explicit Machine(const ServerProcess &server) : Machine(server.base(), server.echo()) {}
    Machine(const QUrl &serviceBase, const QUrl &echo) : sync(serviceBase, echo)
    {
        use();
        DBManager::shared().setupDatabase();
    }
    void use() const
    {
        home.enter();
        store::setClockForTesting(clock);
    }
    ServerResult syncNow()
    {
        use();
        // A version from before revisions: whatever bases a reply taught it
        // are gone before it sends.
        if (sendsNoBases)
            SQLite::Database(DBManager::databasePath().toStdString(), SQLite::OPEN_READWRITE)
                    .exec(R"(DROP TABLE IF EXISTS "syncbases")");
        return waitForTask(sync.syncNotes(QStringLiteral("User@Example.org")));
    }
    QList<Note> everything() const
    {
        use();
        return DBManager::shared().fetchNotesForSync();
    }
    QStringList visibleIds() const
    {
        use();
        QStringList ids;
        for (const Note &note : DBManager::shared().fetchAllNotes())
            ids << note.id;
        ids.sort();
        return ids;
    }

    TemporaryHome home;
    SyncManager sync;
    std::function<int64_t(int64_t)> clock; // empty: the system's
    bool sendsNoBases = false;
};

QString addNote(Machine &machine, const QByteArray &content)
{
    machine.use();
    const QString id = DBManager::shared().createNote();
    DBManager::shared().saveNote(id, content, 1, false, QString(), 0, QString());
    return id;
}

QStringList sortedList(QStringList list)
{
    list.sort();
    return list;
}

void expectSameNotes(const QList<Note> &a, const QList<Note> &b)
{
    ASSERT_EQ(a.size(), b.size());
    auto byId = [](QList<Note> notes) {
        std::sort(notes.begin(), notes.end(), [](const Note &x, const Note &y) { return x.id < y.id; });
        return notes;
    };
    const QList<Note> left = byId(a), right = byId(b);
    for (qsizetype i = 0; i < left.size(); ++i) {
        SCOPED_TRACE(left[i].id.toStdString());
        EXPECT_EQ(left[i].id, right[i].id);
        EXPECT_EQ(left[i].content, right[i].content);
        EXPECT_EQ(left[i].type, right[i].type);
        EXPECT_EQ(left[i].isdeleted, right[i].isdeleted);
        EXPECT_EQ(left[i].createdDate, right[i].createdDate);
        EXPECT_EQ(left[i].lastModifiedDate, right[i].lastModifiedDate);
        EXPECT_EQ(left[i].title, right[i].title);
        EXPECT_EQ(left[i].isfavorite, right[i].isfavorite);
        EXPECT_EQ(left[i].filelink, right[i].filelink);
    }
}

TEST(TwoMachines, NotesAndDeletionsTravelBetweenMachines)
{
    ServerProcess server(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
    ASSERT_GT(server.port(), 0) << "the server did not report its port";
    Machine a(server);
    Machine b(server);

    a.use();
    const ServerResult configured = waitForTask(a.sync.configEmailAddress(QStringLiteral("user@example.org")));
    ASSERT_TRUE(configured.isSuccess()) << configured.error().description.toStdString();
    EXPECT_EQ(configured.message(), QStringLiteral("Email configured"));

    const QString fromA = addNote(a, "written on A");
    const QString shared = addNote(a, "left alone");
    ASSERT_TRUE(a.syncNow().isSuccess());

    // B starts empty and receives both.
    ASSERT_TRUE(b.syncNow().isSuccess());
    EXPECT_EQ(b.visibleIds(), sortedList({fromA, shared}));
    expectSameNotes(a.everything(), b.everything());

    // A note made on B reaches A.
    const QString fromB = addNote(b, "written on B");
    ASSERT_TRUE(b.syncNow().isSuccess());
    ASSERT_TRUE(a.syncNow().isSuccess());
    EXPECT_EQ(a.visibleIds(), sortedList({fromA, shared, fromB}));

    // A deletes its note: gone from A at its next sync...
    a.use();
    DBManager::shared().deleteNote(fromA);
    ASSERT_TRUE(a.syncNow().isSuccess());
    for (const Note &note : a.everything())
        EXPECT_NE(note.id, fromA);

    // ...and from B once B has synced (hidden at once, purged at the next sync).
    ASSERT_TRUE(b.syncNow().isSuccess());
    EXPECT_EQ(b.visibleIds(), sortedList({shared, fromB}));
    ASSERT_TRUE(b.syncNow().isSuccess());
    ASSERT_TRUE(a.syncNow().isSuccess());

    // Nothing else changed, and both hold exactly the same notes.
    const QList<Note> onA = a.everything();
    expectSameNotes(onA, b.everything());
    ASSERT_EQ(onA.size(), 2);
    for (const Note &note : onA) {
        EXPECT_FALSE(note.isdeleted);
        EXPECT_EQ(note.content, note.id == shared ? QByteArray("left alone") : QByteArray("written on B"));
    }

    // A machine that is up to date and sends nothing new is told so.
    Machine fresh(server);
    ASSERT_TRUE(fresh.syncNow().isSuccess());
    expectSameNotes(fresh.everything(), onA);
}

TEST(TwoMachines, ChangesMadeWhileASyncIsOnItsWayReachTheOtherMachine)
{
    ServerProcess server(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
    ASSERT_GT(server.port(), 0) << "the server did not report its port";
    // A reaches the service through a relay that can hold the service's answer.
    CannedServer relay;
    relay.forwardSyncTo(server.port());
    Machine a(QUrl(QString::fromStdString(relay.baseUrl())), server.echo());
    Machine b(server);

    // Three notes from B, older than anything A's user does now.
    b.use();
    ASSERT_TRUE(waitForTask(b.sync.configEmailAddress(QStringLiteral("user@example.org"))).isSuccess());
    const QString edited = QStringLiteral("note-edited-on-a"), deleted = QStringLiteral("note-deleted-on-a"),
                  starred = QStringLiteral("note-starred-on-a");
    for (const QString &id : {edited, deleted, starred})
        DBManager::shared().upsertNote(Note{id, "written on B", 1, false, 1000, 1000, QString(), 0, QString()});
    ASSERT_TRUE(b.syncNow().isSuccess());
    ASSERT_TRUE(a.syncNow().isSuccess());
    ASSERT_EQ(a.visibleIds(), sortedList({edited, deleted, starred}));

    relay.holdSyncAnswers(true);
    const size_t before = relay.receivedOn("/api/sync").size();
    a.use();
    QCoro::Task<ServerResult> held = a.sync.syncNotes(QStringLiteral("user@example.org"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.receivedOn("/api/sync").size() > before; }, 30000));
    DBManager &db = DBManager::shared();
    db.saveNote(edited, "edited on A during a sync", 1, false, QString(), 0, QString());
    db.deleteNote(deleted);
    db.updateFavoriteStatus(starred, 1);
    const QString created = addNote(a, "created on A during a sync");
    relay.holdSyncAnswers(false);
    ASSERT_TRUE(waitForTask(std::move(held)).isSuccess());

    a.use();
    EXPECT_EQ(db.fetchNote(edited).content, QByteArray("edited on A during a sync"));
    EXPECT_TRUE(db.fetchNote(deleted).isdeleted);
    EXPECT_EQ(db.fetchNote(starred).isfavorite, 1);
    EXPECT_EQ(a.visibleIds(), sortedList({edited, starred, created}));

    // A's next sync gives the service the newest copies, and B receives them.
    ASSERT_TRUE(a.syncNow().isSuccess());
    ASSERT_TRUE(b.syncNow().isSuccess());
    EXPECT_EQ(b.visibleIds(), sortedList({edited, starred, created}));
    b.use();
    EXPECT_EQ(db.fetchNote(edited).content, QByteArray("edited on A during a sync"));
    EXPECT_EQ(db.fetchNote(starred).isfavorite, 1);
    EXPECT_EQ(db.fetchNote(created).content, QByteArray("created on A during a sync"));
}


// --- Edits on several machines between their syncs -------------------------

QString writeNote(Machine &machine, const QByteArray &content, int64_t type = 1)
{
    machine.use();
    const QString id = DBManager::shared().createNote();
    DBManager::shared().saveNote(id, content, type, false, QString(), 0, QString());
    return id;
}

void edit(Machine &machine, const QString &id, const QByteArray &content)
{
    machine.use();
    const Note note = DBManager::shared().fetchNote(id);
    DBManager::shared().saveNote(id, content, note.type, false, note.title, note.isfavorite, note.filelink);
}

QList<Note> liveNotes(Machine &machine)
{
    machine.use();
    return DBManager::shared().fetchAllNotes();
}

// Every machine syncs until all have seen every change: twice round.
void settle(const std::vector<Machine *> &machines)
{
    for (int round = 0; round < 2; ++round) {
        for (Machine *machine : machines) {
            const ServerResult result = machine->syncNow();
            ASSERT_TRUE(result.isSuccess()) << result.error().description.toStdString();
        }
    }
}

// Every machine holds the same notes field for field, and every word typed
// stands in some note that is not deleted.
void expectAgreedAndNothingLost(const std::vector<Machine *> &machines, const QStringList &words)
{
    const QList<Note> first = machines.front()->everything();
    for (size_t i = 1; i < machines.size(); ++i) {
        SCOPED_TRACE("machine " + std::to_string(i));
        expectSameNotes(machines[i]->everything(), first);
    }
    QByteArray everything;
    for (const Note &note : liveNotes(*machines.front()))
        everything += note.content + '\n';
    for (const QString &word : words)
        EXPECT_TRUE(everything.contains(word.toUtf8())) << "lost: " << word.toStdString() << "\nin: "
                                                      << everything.toStdString();
}

const QUuid kMilk = QUuid::fromString(QStringLiteral("{6B1F5E7A-0C1D-4A2B-9E3F-1A2B3C4D5E6F}"));
const QUuid kBread = QUuid::fromString(QStringLiteral("{7C2A6F8B-1D2E-4B3C-8F40-2B3C4D5E6F70}"));
const QUuid kEggs = QUuid::fromString(QStringLiteral("{8D3B7A9C-2E3F-4C4D-9051-3C4D5E6F7081}"));

QByteArray todoList(const QList<TodoItem> &items)
{
    return encodeTodoItems(items);
}

constexpr int64_t kYear3000 = 32503680000;
const auto kHourSlow = [](int64_t now) { return now - 3600; };
const auto kInYear3000 = [](int64_t now) { return kYear3000 + now % 1000; };
const auto kOneSecond = [](int64_t) { return int64_t(1800000000); };

struct MachinesCase {
    const char *name;
    int machines;
    // Runs the case's edits and syncs; gives the words that must survive.
    std::function<QStringList(std::vector<Machine *> &, CannedServer &relay)> play;
    int liveNotes; // conflict copies included
    std::function<void(Machine &)> extraCheck = nullptr;
};

// A note of five lines that every machine holds at the same revision.
// Edits on lines with an untouched line between them merge; edits on the
// same or neighbouring lines overlap.
QString sharedNote(std::vector<Machine *> &m)
{
    const QString id = writeNote(*m[0], "alpha\nbeta\ngamma\ndelta\nepsilon");
    settle(m);
    return id;
}

std::vector<MachinesCase> machinesCases()
{
    return {
        {"both edit on different lines: merged", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha typedOnA\nbeta\ngamma\ndelta\nepsilon");
             edit(*m[1], id, "alpha\nbeta\ngamma\ndelta\nepsilon typedOnB");
             return QStringList{"typedOnA", "typedOnB", "beta"};
         },
         1},
        {"both edit the same line: one conflict copy", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha\nbeta typedOnA\ngamma\ndelta\nepsilon");
             edit(*m[1], id, "alpha\nbeta typedOnB\ngamma\ndelta\nepsilon");
             return QStringList{"typedOnA", "typedOnB"};
         },
         2},
        {"three edit the same line: a copy for each late one", 3,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha\nbeta typedOnA\ngamma\ndelta\nepsilon");
             edit(*m[1], id, "alpha\nbeta typedOnB\ngamma\ndelta\nepsilon");
             edit(*m[2], id, "alpha\nbeta typedOnC\ngamma\ndelta\nepsilon");
             return QStringList{"typedOnA", "typedOnB", "typedOnC"};
         },
         3},
        {"three edit different lines: merged", 3,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha typedOnA\nbeta\ngamma\ndelta\nepsilon");
             edit(*m[1], id, "alpha\nbeta\ngamma typedOnB\ndelta\nepsilon");
             edit(*m[2], id, "alpha\nbeta\ngamma\ndelta\nepsilon typedOnC");
             return QStringList{"typedOnA", "typedOnB", "typedOnC"};
         },
         1},
        {"an edit, then a deletion made from the older base", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha\nbeta typedOnA\ngamma\ndelta\nepsilon");
             EXPECT_TRUE(m[0]->syncNow().isSuccess());
             m[1]->use();
             DBManager::shared().deleteNote(id);
             return QStringList{"typedOnA"};
         },
         1},
        {"a deletion, then an edit made from the older base", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = sharedNote(m);
             m[0]->use();
             DBManager::shared().deleteNote(id);
             EXPECT_TRUE(m[0]->syncNow().isSuccess());
             edit(*m[1], id, "alpha\nbeta typedOnB\ngamma\ndelta\nepsilon");
             return QStringList{"typedOnB"};
         },
         1},
        {"both save in the same second", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             m[0]->clock = kOneSecond;
             m[1]->clock = kOneSecond;
             const QString id = sharedNote(m);
             edit(*m[0], id, "alpha typedOnA\nbeta\ngamma\ndelta\nepsilon");
             edit(*m[1], id, "alpha\nbeta\ngamma\ndelta\nepsilon typedOnB");
             return QStringList{"typedOnA", "typedOnB"};
         },
         1},
        {"one clock an hour slow, one in the year 3000", 3,
         [](std::vector<Machine *> &m, CannedServer &) {
             m[0]->clock = kHourSlow;
             m[1]->clock = kInYear3000;
             const QString id = sharedNote(m);
             edit(*m[1], id, "alpha typedIn3000\nbeta\ngamma\ndelta\nepsilon");
             EXPECT_TRUE(m[1]->syncNow().isSuccess());
             edit(*m[0], id, "alpha\nbeta\ngamma\ndelta\nepsilon typedSlow");
             EXPECT_TRUE(m[0]->syncNow().isSuccess());
             edit(*m[2], id, "alpha\nbeta\ngamma typedOnTime\ndelta\nepsilon");
             settle(m);
             // The note stamped in the year 3000 still takes later edits.
             edit(*m[0], id, "alpha typedIn3000\nbeta\ngamma typedOnTime\ndelta\nepsilon typedSlow typedLater");
             return QStringList{"typedIn3000", "typedSlow", "typedOnTime", "typedLater"};
         },
         1},
        {"a to-do list ticked on one machine, edited and extended on the other", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             const QString id = writeNote(*m[0], todoList({{kMilk, "milk", false}, {kBread, "bread", false}}), 2);
             settle(m);
             edit(*m[0], id, todoList({{kMilk, "milk", true}, {kBread, "bread", false}}));
             edit(*m[1], id,
                  todoList({{kMilk, "milk", false}, {kBread, "rye bread", false}, {kEggs, "eggs", false}}));
             return QStringList{"milk", "rye bread", "eggs"};
         },
         1,
         [](Machine &machine) {
             const QList<Note> notes = liveNotes(machine);
             ASSERT_EQ(notes.size(), 1);
             const QList<TodoItem> items = decodeTodoItems(notes.front().content);
             ASSERT_EQ(items.size(), 3);
             for (const TodoItem &item : items)
                 EXPECT_EQ(item.isCompleted, item.id == kMilk) << item.text.toStdString();
         }},
        {"an older client that sends no bases", 2,
         [](std::vector<Machine *> &m, CannedServer &) {
             m[1]->sendsNoBases = true;
             const QString id = sharedNote(m);
             edit(*m[1], id, "alpha\nbeta typedOnOld\ngamma\ndelta\nepsilon");
             EXPECT_TRUE(m[1]->syncNow().isSuccess());
             writeNote(*m[1], "madeOnOld");
             return QStringList{"typedOnOld", "madeOnOld"};
         },
         2},
        {"a reply lost on its way and the request sent again", 2,
         [](std::vector<Machine *> &m, CannedServer &relay) {
             const QString id = sharedNote(m);
             edit(*m[1], id, "alpha\nbeta typedOnB\ngamma\ndelta\nepsilon");
             EXPECT_TRUE(m[1]->syncNow().isSuccess());
             edit(*m[0], id, "alpha\nbeta typedOnA\ngamma\ndelta\nepsilon");
             relay.loseSyncAnswers(1);
             EXPECT_FALSE(m[0]->syncNow().isSuccess());
             relay.loseSyncAnswers(0);
             return QStringList{"typedOnA", "typedOnB"};
         },
         2},
    };
}

TEST(Machines, EditsBetweenSyncsAreMergedOrKeptAndEveryMachineAgrees)
{
    for (const MachinesCase &c : machinesCases()) {
        SCOPED_TRACE(c.name);
        ServerProcess server(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
        ASSERT_GT(server.port(), 0) << "the server did not report its port";
        // The first machine reaches the service through a relay that can lose
        // an answer.
        CannedServer relay;
        relay.forwardSyncTo(server.port());
        std::vector<std::unique_ptr<Machine>> owned;
        owned.push_back(std::make_unique<Machine>(QUrl(QString::fromStdString(relay.baseUrl())), server.echo()));
        for (int i = 1; i < c.machines; ++i)
            owned.push_back(std::make_unique<Machine>(server));
        std::vector<Machine *> machines;
        for (auto &machine : owned)
            machines.push_back(machine.get());

        const QStringList words = c.play(machines, relay);
        settle(machines);
        expectAgreedAndNothingLost(machines, words);
        EXPECT_EQ(liveNotes(*machines.front()).size(), c.liveNotes);
        if (c.extraCheck)
            c.extraCheck(*machines.front());
        store::setClockForTesting(nullptr);
    }
}

// Three machines, clocks fast and slow, each adding words, starring and
// deleting notes at random between random syncs.
TEST(Machines, RandomEditsOnMachinesWithSkewedClocksConvergeAndKeepEveryWord)
{
    // TOVIK_TEST_SEED replays a run.
    const quint32 seed = qEnvironmentVariableIsSet("TOVIK_TEST_SEED")
            ? quint32(qEnvironmentVariable("TOVIK_TEST_SEED").toULong())
            : QRandomGenerator::global()->generate();
    SCOPED_TRACE("seed " + std::to_string(seed));
    QRandomGenerator random(seed);
    ServerProcess server(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
    ASSERT_GT(server.port(), 0) << "the server did not report its port";
    std::vector<std::unique_ptr<Machine>> owned;
    std::vector<Machine *> machines;
    for (int i = 0; i < 3; ++i) {
        owned.push_back(std::make_unique<Machine>(server));
        const int64_t skew = std::array<int64_t, 5>{-7200, -30, 0, 45, 86400 * 365}[random.bounded(5)];
        owned.back()->clock = [skew](int64_t now) { return now + skew; };
        machines.push_back(owned.back().get());
    }

    QStringList typed;
    // Words that stood in a note when a user deleted it: those may go (a
    // deletion from an older base that meets an edit still keeps them).
    QSet<QString> deletedWithANote;
    int counter = 0;
    for (int step = 0; step < 60; ++step) {
        Machine &machine = *machines[random.bounded(int(machines.size()))];
        const QList<Note> notes = liveNotes(machine);
        const int action = random.bounded(10);
        const QString word = QStringLiteral("w%1x").arg(++counter);
        if (notes.isEmpty() || action < 2) {
            writeNote(machine, word.toUtf8());
            typed << word;
        } else if (action < 6) {
            // A word added to a line of its own or to the end of one.
            const Note &note = notes[random.bounded(int(notes.size()))];
            if (note.type != 1)
                continue;
            QList<QByteArray> lines = note.content.split('\n');
            const int at = random.bounded(int(lines.size()) + 1);
            if (at == lines.size())
                lines.append(word.toUtf8());
            else
                lines[at] += ' ' + word.toUtf8();
            edit(machine, note.id, lines.join('\n'));
            typed << word;
        } else if (action < 7) {
            const Note &note = notes[random.bounded(int(notes.size()))];
            machine.use();
            DBManager::shared().updateFavoriteStatus(note.id, 1 - note.isfavorite);
        } else if (action < 8) {
            const Note &note = notes[random.bounded(int(notes.size()))];
            machine.use();
            DBManager::shared().deleteNote(note.id);
            for (const QString &gone : QString::fromUtf8(note.content).split(QRegularExpression(QStringLiteral("\\s+"))))
                deletedWithANote.insert(gone);
        } else {
            const ServerResult result = machine.syncNow();
            ASSERT_TRUE(result.isSuccess()) << result.error().description.toStdString();
        }
    }
    QStringList words;
    for (const QString &word : typed) {
        if (!deletedWithANote.contains(word))
            words << word;
    }
    settle(machines);
    expectAgreedAndNothingLost(machines, words);
    store::setClockForTesting(nullptr);
}

} // namespace
