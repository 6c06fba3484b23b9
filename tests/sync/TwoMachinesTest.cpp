// Two machines (two homes, used one after the other) syncing through a real
// tovik-sync-server process on loopback.

#include "DBManager.h"
#include "SyncManager.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

namespace {

// One machine: its own home with its own store.
struct Machine {
    explicit Machine(const ServerProcess &server) : sync(server.base(), server.echo())
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

} // namespace
