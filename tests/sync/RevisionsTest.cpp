// Revisions on the wire: each request carries the base of every note that has
// one, each reply's revisions become the bases, and replies of any size the
// service may send are received.

#include "SyncBases.h"
#include "SyncHttp.h"
#include "support/RawServer.h"
#include "support/SyncFixture.h"

#include <QCoro/QCoroTask>
#include <QTest>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <map>

using nlohmann::ordered_json;

namespace {

class Revisions : public SyncFixture {
protected:
    static QHash<QString, int64_t> bases() { return SyncBases::readAll(DBManager::databasePath()); }

    ServerResult sync() { return waitForTask(manager.syncNotes(QStringLiteral("a@b.c"))); }

    // The last request's note objects by identifier.
    std::map<std::string, ordered_json> lastSent() const
    {
        std::map<std::string, ordered_json> sent;
        const std::vector<ordered_json> bodies = syncBodies();
        for (const ordered_json &note : bodies.back().at("notes"))
            sent[note.at("noteid").get<std::string>()] = note;
        return sent;
    }

    static ordered_json withRev(ordered_json note, const ordered_json &rev)
    {
        note["rev"] = rev;
        return note;
    }

    static ordered_json reply(std::initializer_list<ordered_json> notes)
    {
        return {{"status", 602}, {"msg", "m"}, {"notes", ordered_json(notes)}};
    }
};

TEST_F(Revisions, BasesGoOutAndComeBack)
{
    store(makeNote(QStringLiteral("old"), "synced before", 100));
    store(makeNote(QStringLiteral("fresh"), "never synced", 110));
    // The first sync after an upgrade: no note has a base, and every reply
    // copy teaches one; an older service's copy teaches none.
    answerSync(200, reply({withRev(serverNote("old", "synced before", 100), 5),
                           withRev(serverNote("fresh", "never synced", 110), 1),
                           serverNote("legacy", "from an older service", 90)}));
    ASSERT_TRUE(sync().isSuccess());
    for (const auto &[id, note] : lastSent())
        EXPECT_FALSE(note.contains("rev")) << id;
    EXPECT_EQ(bases(), (QHash<QString, int64_t>{{"old", 5}, {"fresh", 1}}));

    answerSync(200, reply({}));
    ASSERT_TRUE(sync().isSuccess());
    const auto sent = lastSent();
    EXPECT_EQ(sent.at("old").at("rev"), 5);
    EXPECT_EQ(sent.at("fresh").at("rev"), 1);
    EXPECT_EQ(sent.at("old").size(), 10u) << "nine members and the base";
    EXPECT_FALSE(sent.at("legacy").contains("rev"));
}

TEST_F(Revisions, AMalformedRevisionStopsTheApplyAtThatNote)
{
    for (const ordered_json &rev : {ordered_json("3"), ordered_json(0), ordered_json(-2), ordered_json(1.5),
                                    ordered_json(true), ordered_json(nullptr), ordered_json(UINT64_MAX)}) {
        SCOPED_TRACE(rev.dump());
        for (const QString &id : storedIds())
            DBManager::shared().deleteNotePermanently(id);
        answerSync(200, reply({withRev(serverNote("first", "x", 100), 2), withRev(serverNote("bad", "y", 100), rev),
                               withRev(serverNote("after", "z", 100), 2)}));
        StdoutCapture output;
        const ServerResult result = sync();
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(output.lines(),
                  QStringList{QStringLiteral("Error updating local database: Missing or invalid field: rev")});
        EXPECT_EQ(storedIds(), QStringList{QStringLiteral("first")});
        EXPECT_EQ(bases(), (QHash<QString, int64_t>{{"first", 2}}));
    }
}

// A reply that arrives after the user edited the note it carries.
struct EditedInFlightCase {
    const char *name;
    bool replyIsTheSentCopy;
    int64_t baseSentNext;
};

TEST_F(Revisions, AnEditMadeInFlightGoesOutOnTheRevisionItDerivesFrom)
{
    const EditedInFlightCase cases[] = {
        // The service stored what was sent: the edit was made on top of it.
        {"reply is the copy sent", true, 8},
        // A merge the user has not seen: the next sync merges the edit into
        // it from the old base instead of overwriting it.
        {"reply is a merge", false, 7},
    };
    for (const EditedInFlightCase &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &id : storedIds())
            DBManager::shared().deleteNotePermanently(id);
        store(makeNote(QStringLiteral("n"), "typed before", 100));
        answerSync(200, reply({withRev(serverNote("n", "typed before", 100), 7)}));
        ASSERT_TRUE(sync().isSuccess());
        ASSERT_EQ(bases().value(QStringLiteral("n")), 7);

        DBManager::shared().saveNote(QStringLiteral("n"), "typed before, changed", 1, false, QString(), 0, QString());
        const Note sentNow = DBManager::shared().fetchNote(QStringLiteral("n"));
        ordered_json copy = c.replyIsTheSentCopy ? SyncManager::makeNoteDictionary(sentNow)
                                                 : serverNote("n", "typed before, merged elsewhere", 100);
        answerSync(200, reply({withRev(copy, 8)}));
        server.holdSyncAnswers(true);
        const size_t before = server.receivedOn("/api/sync").size();
        QCoro::Task<ServerResult> task = manager.syncNotes(QStringLiteral("a@b.c"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.receivedOn("/api/sync").size() > before; }, 30000));
        DBManager::shared().saveNote(QStringLiteral("n"), "typed before, changed, and typed in flight", 1, false,
                                     QString(), 0, QString());
        server.holdSyncAnswers(false);
        ASSERT_TRUE(waitForTask(std::move(task)).isSuccess());

        EXPECT_EQ(DBManager::shared().fetchNote(QStringLiteral("n")).content,
                  QByteArray("typed before, changed, and typed in flight"));
        answerSync(200, reply({}));
        ASSERT_TRUE(sync().isSuccess());
        const ordered_json next = lastSent().at("n");
        EXPECT_EQ(next.at("content"), "typed before, changed, and typed in flight");
        EXPECT_EQ(next.at("rev"), c.baseSentNext);
    }
}

TEST_F(Revisions, AFailedWriteLeavesEveryRowWithItsOwnBase)
{
    {
        SQLite::Database db(DBManager::databasePath().toStdString(), SQLite::OPEN_READWRITE);
        db.exec(R"(CREATE TRIGGER refuse BEFORE INSERT ON "notes" WHEN NEW."noteid" = 'n-1500' BEGIN SELECT RAISE(ABORT, 'disk says no'); END)");
    }
    ordered_json many = reply({});
    for (int i = 0; i < 3000; ++i)
        many["notes"].push_back(withRev(serverNote("n-" + std::to_string(i), "text " + std::to_string(i), 100), 1));
    answerSync(200, many);

    StdoutCapture output;
    const ServerResult result = sync();
    ASSERT_FALSE(result.isSuccess());
    const QStringList lines = output.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Error updating local database: disk says no")))
        << lines.front().toStdString();
    // Whatever was committed before the failure, each row has its base and
    // no base is left without its row.
    QStringList withBase = bases().keys();
    withBase.sort();
    const QStringList fromReply = storedIds();
    EXPECT_EQ(withBase, fromReply);
    EXPECT_FALSE(fromReply.contains(QStringLiteral("n-1500")));
}

TEST(LargeReply, AHundredMebibytesOfRepetitiveTextArriveCompressed)
{
    TemporaryHome home;
    DBManager::shared().setupDatabase();
    // Text that needs no escaping, so the body is written around it.
    std::string text = "All work and no play makes a long note. ";
    while (text.size() < (100u << 20))
        text += text;
    text.resize(100u << 20);
    const std::string body = R"({"status":602,"msg":"large","notes":[{"noteid":"large","content":")" + text
            + R"(","type":1,"isdeleted":0,"createdtime":1,"lastmodifiedtime":2,"title":"","isfavorite":0,"filelink":"","rev":1}]})";
    const std::string packed = gzipFast(body);
    ASSERT_LT(packed.size(), body.size() / 100) << "compressed far beyond the ratio Qt refuses by default";
    RawServer service("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
                      "Content-Length: " + std::to_string(packed.size()) + "\r\n\r\n" + packed);
    SyncManager manager(QUrl(QString::fromStdString(service.baseUrl())), QUrl());

    const ServerResult result = waitForTask(manager.syncNotes(QStringLiteral("a@b.c")));
    ASSERT_TRUE(result.isSuccess()) << result.error().description.toStdString();
    EXPECT_EQ(result.message(), QStringLiteral("large"));
    EXPECT_EQ(DBManager::shared().fetchNote(QStringLiteral("large")).content.size(), qsizetype(text.size()));
}

} // namespace
