// Changes the user makes while a sync request is on its way: the reply, held
// back by the service until the changes are made, must not undo any of them.

#include "support/SyncFixture.h"

#include <QCoro/QCoroTask>
#include <QTest>

using nlohmann::ordered_json;

namespace {

const QString edited = QStringLiteral("edited");
const QString deleted = QStringLiteral("deleted");
const QString favourite = QStringLiteral("favourite");
const QString untouched = QStringLiteral("untouched");
const QString gone = QStringLiteral("gone");
const QString revived = QStringLiteral("revived");
const QString serverNew = QStringLiteral("server-new");

class InFlight : public SyncFixture {
protected:
    void SetUp() override
    {
        store(makeNote(edited, "as sent", 200));
        store(makeNote(deleted, "to be deleted", 201));
        store(makeNote(favourite, "to be starred", 202));
        store(makeNote(untouched, "old local", 203));
        store(makeNote(gone, "deleted before the sync", 100, true));
        store(makeNote(revived, "deleted, then edited in an open editor", 101, true));
    }

    // Starts a sync whose answer waits until `during` has run.
    ServerResult syncWhile(const std::function<void()> &during)
    {
        server.holdSyncAnswers(true);
        const size_t before = server.receivedOn("/api/sync").size();
        QCoro::Task<ServerResult> task = manager.syncNotes(QStringLiteral("a@b.c"));
        const bool arrived = QTest::qWaitFor([&] { return server.receivedOn("/api/sync").size() > before; }, 30000);
        EXPECT_TRUE(arrived) << "the request never reached the service";
        during();
        server.holdSyncAnswers(false);
        return waitForTask(std::move(task));
    }

    static Note stored(const QString &id) { return DBManager::shared().fetchNote(id); }

    // A service copy of a note, older than anything the user does now.
    static ordered_json serviceCopy(const QString &id, const std::string &content, bool deletedMark = false)
    {
        ordered_json note = serverNote(id.toStdString(), content, 300);
        note["isdeleted"] = deletedMark ? 1 : 0;
        return note;
    }
};

TEST_F(InFlight, ChangesMadeWhileTheRequestIsOnItsWayAreKept)
{
    ordered_json reply = {{"status", 602}, {"msg", "applied"}, {"notes", ordered_json::array()}};
    for (const auto &[id, content] : {std::pair{edited, "copy from another machine"},
                                      std::pair{deleted, "copy from another machine"},
                                      std::pair{favourite, "copy from another machine"},
                                      std::pair{untouched, "newer copy from another machine"},
                                      std::pair{serverNew, "made on another machine"}})
        reply["notes"].push_back(serviceCopy(id, content));
    reply["notes"].push_back(serviceCopy(revived, "deleted", true));
    answerSync(200, reply);

    DBManager &db = DBManager::shared();
    QString created;
    const ServerResult result = syncWhile([&] {
        db.saveNote(edited, "edited in flight", 1, false, QString(), 0, QString());
        db.deleteNote(deleted);
        db.updateFavoriteStatus(favourite, 1);
        db.saveNote(revived, "saved by the open editor", 1, false, QString(), 0, QString());
        created = db.createNote();
        db.saveNote(created, "created in flight", 1, false, QString(), 0, QString());
    });
    ASSERT_TRUE(result.isSuccess()) << result.error().description.toStdString();
    EXPECT_EQ(result.message(), QStringLiteral("applied"));

    // Every change the user made is as the user left it...
    EXPECT_EQ(stored(edited).content, QByteArray("edited in flight"));
    EXPECT_GT(stored(edited).lastModifiedDate, 300);
    EXPECT_TRUE(stored(deleted).isdeleted) << "deleted in flight: neither purged nor brought back";
    EXPECT_EQ(stored(favourite).isfavorite, 1);
    EXPECT_EQ(stored(favourite).content, QByteArray("to be starred"));
    EXPECT_FALSE(stored(revived).isdeleted);
    EXPECT_EQ(stored(revived).content, QByteArray("saved by the open editor"));
    EXPECT_EQ(stored(created).content, QByteArray("created in flight"));
    // ...while the rows nobody touched are purged and written as always.
    EXPECT_FALSE(storedIds().contains(gone));
    EXPECT_EQ(stored(untouched).content, QByteArray("newer copy from another machine"));
    EXPECT_EQ(stored(untouched).lastModifiedDate, 300);
    EXPECT_EQ(stored(serverNew).content, QByteArray("made on another machine"));

    // The next sync carries the newest copy of each, newer than the service's.
    answerSync(200, ordered_json{{"status", 602}, {"msg", "clean"}, {"notes", ordered_json::array()}});
    ASSERT_TRUE(waitForTask(manager.syncNotes(QStringLiteral("a@b.c"))).isSuccess());
    const ordered_json body = syncBodies().back();
    std::map<std::string, ordered_json> sent;
    for (const ordered_json &note : body.at("notes"))
        sent[note.at("noteid").get<std::string>()] = note;
    EXPECT_EQ(sent.at("edited").at("content"), "edited in flight");
    EXPECT_EQ(sent.at("deleted").at("isdeleted"), 1);
    EXPECT_EQ(sent.at("favourite").at("isfavorite"), 1);
    EXPECT_EQ(sent.at("revived").at("isdeleted"), 0);
    EXPECT_EQ(sent.at(created.toStdString()).at("content"), "created in flight");
    for (const char *id : {"edited", "deleted", "favourite", "revived"})
        EXPECT_GT(sent.at(id).at("lastmodifiedtime").get<int64_t>(), 300) << id;
    // That sync's reply purged the deletion it carried, unchanged since.
    EXPECT_FALSE(storedIds().contains(deleted));
}

TEST_F(InFlight, NoteRemovedForGoodInFlightIsNotBroughtBack)
{
    ordered_json reply = {{"status", 602}, {"msg", "m"}, {"notes", {serviceCopy(edited, "copy")}}};
    answerSync(200, reply);
    ASSERT_TRUE(syncWhile([] { DBManager::shared().deleteNotePermanently(edited); }).isSuccess());
    EXPECT_FALSE(storedIds().contains(edited));
}

TEST_F(InFlight, APurgedNoteComesBackOnlyAsTheServiceSendsIt)
{
    // Nothing changed in flight: the sent deletion is purged, and a service
    // copy of it is then stored as any absent note would be.
    ordered_json reply = {{"status", 602}, {"msg", "m"}, {"notes", {serviceCopy(gone, "still deleted there", true)}}};
    answerSync(200, reply);
    ASSERT_TRUE(syncWhile([] {}).isSuccess());
    EXPECT_TRUE(stored(gone).isdeleted);
    EXPECT_EQ(stored(gone).content, QByteArray("still deleted there"));
    EXPECT_FALSE(storedIds().contains(revived)) << "sent deleted and unchanged: purged";
}

} // namespace
