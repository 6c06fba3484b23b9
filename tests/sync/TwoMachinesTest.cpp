// Two machines (two homes, used one after the other) syncing through a real
// tovik-sync-server process on loopback.

#include "DBManager.h"
#include "SyncManager.h"
#include "support/CannedServer.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroTask>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// One machine: its own home with its own store.
struct Machine {
    explicit Machine(const ServerProcess &server) : Machine(server.base(), server.echo()) {}
    Machine(const QUrl &serviceBase, const QUrl &echo) : sync(serviceBase, echo)
    {
        DBManager::shared().setupDatabase();
    }
    void use() const { home.enter(); }
    ServerResult syncNow()
    {
        use();
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

} // namespace
