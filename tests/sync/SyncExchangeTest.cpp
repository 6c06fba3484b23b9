// The sync exchange against a real HTTP server on loopback with canned answers.

#include "support/SyncFixture.h"

#include <QCoro/QCoroTask>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <SQLiteCpp/Database.h>

using nlohmann::ordered_json;

namespace {

const QString liveId = QStringLiteral("local-live");
const QString deletedId = QStringLiteral("local-deleted");

class SyncExchange : public SyncFixture {
protected:
    void SetUp() override
    {
        store(makeNote(liveId, "kept", 200));
        store(makeNote(deletedId, "gone", 100, true));
    }

    ServerResult sync(const QString &email = QStringLiteral("user@example.org"))
    {
        return waitForTask(manager.syncNotes(email));
    }
};

// One row per way a reply can go. `line` is the one printed line ("" for none);
// with `prefixOnly` the line is only known up to the error's own text.
struct ReplyCase {
    const char *name;
    int httpStatus;
    std::string body;
    bool success;
    QString text; // message on success, error description on failure
    QString line;
    bool prefixOnly;
    QStringList idsAfter;
};

TEST_F(SyncExchange, EachReplyIsHandledAsItMustBe)
{
    const QStringList untouched{deletedId, liveId};
    const QStringList purged{liveId};
    const QString invalid = QStringLiteral("Invalid JSON structure");
    ordered_json withNotes = {{"status", 602}, {"msg", "two new"}, {"notes", ordered_json::array()}};
    withNotes["notes"].push_back(serverNote("server-1", "from the server", 300));
    withNotes["notes"].push_back(serverNote("server-2", "also", 301));
    ordered_json thirdLacksFilelink = withNotes;
    thirdLacksFilelink["msg"] = "three";
    thirdLacksFilelink["notes"].push_back(serverNote("server-3", "bad", 302));
    thirdLacksFilelink["notes"].back().erase("filelink");
    thirdLacksFilelink["notes"].push_back(serverNote("server-4", "never", 303));

    const ReplyCase cases[] = {
        {"601", 200, R"({"status":601,"msg":"nothing new"})", true, "nothing new", "", false, untouched},
        {"601 with any message text", 200, R"({"status":601,"msg":"","extra":[1]})", true, "", "", false, untouched},
        {"602 with notes", 200, withNotes.dump(), true, "two new", "", false,
         {liveId, QStringLiteral("server-1"), QStringLiteral("server-2")}},
        {"602 with no notes", 200, R"({"status":602,"msg":"clean","notes":[]})", true, "clean", "", false, purged},
        {"602 without notes", 200, R"({"status":602,"msg":"m"})", false, "Status 602 but no notes found",
         "Error: Status 602 but no notes found in response", false, untouched},
        {"602 with notes not an array", 200, R"({"status":602,"msg":"m","notes":{}})", false,
         "Status 602 but no notes found", "Error: Status 602 but no notes found in response", false, untouched},
        {"602 with a note that is not an object", 200, R"({"status":602,"msg":"m","notes":[{},3]})", false,
         "Status 602 but no notes found", "Error: Status 602 but no notes found in response", false, untouched},
        {"status as a string", 200, R"({"status":"602","msg":"m","notes":[]})", false, invalid, invalid, false,
         untouched},
        {"status as a float", 200, R"({"status":601.0,"msg":"m"})", false, invalid, invalid, false, untouched},
        {"status as a bool", 200, R"({"status":true,"msg":"m"})", false, invalid, invalid, false, untouched},
        {"500 without msg", 200, R"({"status":500})", false, invalid, invalid, false, untouched},
        {"msg not a string", 200, R"({"status":601,"msg":5})", false, invalid, invalid, false, untouched},
        {"top-level array", 200, R"([{"status":601,"msg":"m"}])", false, invalid, invalid, false, untouched},
        {"603", 200, R"({"status":603,"msg":"m"})", false, "Unexpected status code: 603",
         "Unexpected status code: 603", false, untouched},
        {"negative status", 200, R"({"status":-1,"msg":"m"})", false, "Unexpected status code: -1",
         "Unexpected status code: -1", false, untouched},
        {"HTTP 500 with a good body", 500, R"({"status":601,"msg":"m"})", false,
         "Response status code was unacceptable: 500.",
         "Network request failed: Response status code was unacceptable: 500.", false, untouched},
        {"HTTP 200 with an empty body", 200, "", false,
         "Response could not be serialized, input data was nil or zero length.",
         "Network request failed: Response could not be serialized, input data was nil or zero length.", false,
         untouched},
        {"HTTP 204 with an empty body", 204, "", false, "", "JSON parsing error: ", true, untouched},
        {"not JSON", 200, "<html>", false, "", "JSON parsing error: ", true, untouched},
        {"third server note lacks filelink", 200, thirdLacksFilelink.dump(), false,
         "Missing or invalid field: filelink", "Error updating local database: Missing or invalid field: filelink",
         false, {liveId, QStringLiteral("server-1"), QStringLiteral("server-2")}},
    };

    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        // Every row starts from the same two local notes.
        for (const QString &id : storedIds())
            DBManager::shared().deleteNotePermanently(id);
        store(makeNote(liveId, "kept", 200));
        store(makeNote(deletedId, "gone", 100, true));
        answerSync(c.httpStatus, c.body);

        StdoutCapture output;
        const ServerResult result = sync();
        const QStringList lines = output.lines();

        EXPECT_EQ(result.isSuccess(), c.success);
        if (c.success) {
            EXPECT_EQ(result.message(), c.text);
            EXPECT_EQ(lines, QStringList());
        } else if (c.prefixOnly) {
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.front().startsWith(c.line)) << lines.front().toStdString();
            EXPECT_EQ(lines.front(), c.line + result.error().description);
            EXPECT_EQ(result.error().domain, QStringLiteral("nlohmann::json"));
            EXPECT_TRUE(result.error().description.startsWith(QStringLiteral("[json.exception.parse_error.")));
        } else {
            EXPECT_EQ(result.error().description, c.text);
            EXPECT_EQ(lines, QStringList{c.line});
        }
        EXPECT_EQ(storedIds(), c.idsAfter);
    }
}

TEST_F(SyncExchange, EveryParserErrorFailsTheSyncAndPurgesNothing)
{
    ordered_json hugeTime = {{"status", 602}, {"msg", "m"}, {"notes", {serverNote("server-1", "x", 300)}}};
    std::string hugeTimeText = hugeTime.dump();
    hugeTimeText.replace(hugeTimeText.find("300"), 3, "1e999999");
    struct Case {
        const char *name;
        std::string body;
        int code;
    };
    const Case cases[] = {
        {"a member beyond any double", R"({"status":601,"msg":"Up to date","extra":1e400})", 406},
        {"a reply that is one huge number", "1e400", 406},
        {"a huge negative number", "-1e400", 406},
        {"a huge exponent in a note's time", hugeTimeText, 406},
        {"bytes that are not UTF-8", "{\"status\":602,\"msg\":\"\xff\",\"notes\":[]}", 101},
        {"a reply cut short", R"({"status":602,"msg":"m","notes":[)", 101},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        answerSync(200, c.body);
        StdoutCapture output;
        const ServerResult result = sync();
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(result.error().domain, QStringLiteral("nlohmann::json"));
        EXPECT_EQ(result.error().code, c.code) << result.error().description.toStdString();
        EXPECT_EQ(output.lines(), QStringList{QStringLiteral("JSON parsing error: ") + result.error().description});
        EXPECT_EQ(storedIds(), (QStringList{deletedId, liveId}));
    }
}

TEST_F(SyncExchange, ErrorsKeepTheirOrigin)
{
    StdoutCapture output;
    answerSync(500, std::string("oops"));
    ServerResult result = sync();
    EXPECT_EQ(result.error().domain, QStringLiteral("HttpClient"));
    EXPECT_EQ(result.error().code, 500);

    answerSync(200, std::string(R"({"status":603,"msg":"m"})"));
    result = sync();
    EXPECT_EQ(result.error().domain, QString());
    EXPECT_EQ(result.error().code, 0);
}

TEST_F(SyncExchange, ServerNotesAreStoredAsSent)
{
    ordered_json reply = {{"status", 602}, {"msg", "applied"}, {"notes", ordered_json::array()}};
    ordered_json odd = serverNote("server-odd", "caf\xC3\xA9", 400);
    odd["type"] = 7;
    odd["isdeleted"] = 2;
    odd["isfavorite"] = 1;
    odd["title"] = "t";
    odd["filelink"] = "f";
    reply["notes"].push_back(odd);
    ordered_json marked = serverNote("server-marked", "x", 401);
    marked["isdeleted"] = 1;
    reply["notes"].push_back(marked);
    // An older copy of a local note still replaces it, but its creation time stays.
    reply["notes"].push_back(serverNote(liveId.toStdString(), "older server copy", 150));
    answerSync(200, reply);

    ASSERT_TRUE(sync().isSuccess());

    const Note stored = DBManager::shared().fetchNote(QStringLiteral("server-odd"));
    EXPECT_EQ(stored.content, QByteArray("caf\xC3\xA9"));
    EXPECT_EQ(stored.type, 7);
    EXPECT_FALSE(stored.isdeleted); // only 1 marks a deletion
    EXPECT_EQ(stored.createdDate, 390);
    EXPECT_EQ(stored.lastModifiedDate, 400);
    EXPECT_EQ(stored.isfavorite, 1);
    EXPECT_EQ(stored.title, QStringLiteral("t"));
    EXPECT_EQ(stored.filelink, QStringLiteral("f"));

    EXPECT_TRUE(DBManager::shared().fetchNote(QStringLiteral("server-marked")).isdeleted);

    const Note live = DBManager::shared().fetchNote(liveId);
    EXPECT_EQ(live.content, QByteArray("older server copy"));
    EXPECT_EQ(live.lastModifiedDate, 150);
    EXPECT_EQ(live.createdDate, 190);
}

TEST_F(SyncExchange, EveryMissingOrMistypedMemberIsNamed)
{
    const std::pair<const char *, ordered_json> wrongTypes[] = {
        {"noteid", 5},          {"content", nullptr}, {"type", 1.0},         {"isdeleted", true},
        {"createdtime", "5"},   {"lastmodifiedtime", 1.5}, {"title", ordered_json::array()},
        {"isfavorite", false},  {"filelink", 0},
    };
    for (const auto &[member, wrong] : wrongTypes) {
        for (bool missing : {true, false}) {
            SCOPED_TRACE(std::string(member) + (missing ? " missing" : " mistyped"));
            ordered_json note = serverNote("server-x", "x", 500);
            if (missing)
                note.erase(member);
            else
                note[member] = wrong;
            answerSync(200, ordered_json{{"status", 602}, {"msg", "m"}, {"notes", {note}}});

            StdoutCapture output;
            const ServerResult result = sync();
            const QString expected = QStringLiteral("Missing or invalid field: ") + QString::fromLatin1(member);
            EXPECT_EQ(result.error().description, expected);
            EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Error updating local database: ") + expected});
            EXPECT_FALSE(storedIds().contains(QStringLiteral("server-x")));
        }
    }
}

TEST_F(SyncExchange, FailedPurgeIsPrintedAndApplyingGoesOn)
{
    {
        // A trigger of the test's own makes every deletion in the file fail.
        SQLite::Database db(DBManager::databasePath().toStdString(), SQLite::OPEN_READWRITE);
        db.exec("CREATE TRIGGER refuse_delete BEFORE DELETE ON notes BEGIN SELECT RAISE(ABORT, 'purge refused'); END");
    }
    ordered_json reply = {{"status", 602}, {"msg", "applied anyway"}, {"notes", ordered_json::array()}};
    reply["notes"].push_back(serverNote("server-1", "new", 300));
    answerSync(200, reply);

    StdoutCapture output;
    const ServerResult result = sync();
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.message(), QStringLiteral("applied anyway"));
    const QStringList lines = output.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Error while deleting locally deleted notes: purge refused")))
        << lines.front().toStdString();
    EXPECT_EQ(storedIds(), (QStringList{deletedId, liveId, QStringLiteral("server-1")}));
}

TEST_F(SyncExchange, RequestCarriesEveryLocalNote)
{
    Note todo = makeNote(QStringLiteral("todo"), R"([{"id":"A","text":"milk","isCompleted":false}])", 300);
    todo.type = 2;
    todo.title = QStringLiteral("Shopping");
    todo.isfavorite = 1;
    todo.filelink = QStringLiteral("file:///x");
    store(todo);
    store(makeNote(QStringLiteral("broken"), QByteArray("ok\xFF", 3), 50));
    answerSync(200, std::string(R"({"status":601,"msg":"m"})"));

    ASSERT_TRUE(sync(QStringLiteral("Alice.Smith@Example.COM")).isSuccess());

    const auto requests = server.receivedOn("/api/sync");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests.front().method, "POST");
    EXPECT_EQ(requests.front().contentType, "application/json");
    EXPECT_EQ(requests.front().body.find('\n'), std::string::npos); // compact
    EXPECT_EQ(server.receivedOn("/ip").size(), 1u);

    const ordered_json body = syncBodies().front();
    EXPECT_EQ(body.size(), 3u);
    EXPECT_EQ(body.at("email"), "alice.smith@example.com");
    EXPECT_EQ(body.at("ip"), "203.0.113.7\n");
    const ordered_json &notes = body.at("notes");
    ASSERT_EQ(notes.size(), 4u);
    // Newest change first, the soft-deleted note among them.
    std::vector<std::string> order;
    for (const auto &note : notes)
        order.push_back(note.at("noteid"));
    EXPECT_EQ(order, (std::vector<std::string>{"todo", "local-live", "local-deleted", "broken"}));

    for (const auto &note : notes) {
        EXPECT_EQ(note.size(), 9u);
        for (const char *text : {"noteid", "content", "title", "filelink"})
            EXPECT_TRUE(note.at(text).is_string()) << text;
        for (const char *number : {"type", "isdeleted", "createdtime", "lastmodifiedtime", "isfavorite"})
            EXPECT_TRUE(note.at(number).is_number_integer()) << number;
    }
    const ordered_json expectedTodo = {
        {"noteid", "todo"}, {"content", R"([{"id":"A","text":"milk","isCompleted":false}])"},
        {"type", 2}, {"isdeleted", 0}, {"createdtime", 290}, {"lastmodifiedtime", 300},
        {"title", "Shopping"}, {"isfavorite", 1}, {"filelink", "file:///x"}};
    EXPECT_EQ(notes.at(0), expectedTodo);
    EXPECT_EQ(notes.at(2).at("isdeleted"), 1);
    EXPECT_EQ(notes.at(3).at("content"), ""); // not UTF-8
}

TEST_F(SyncExchange, EmptyStoreSendsNoNotes)
{
    for (const QString &id : storedIds())
        DBManager::shared().deleteNotePermanently(id);
    ASSERT_TRUE(sync().isSuccess());
    EXPECT_EQ(syncBodies().front().at("notes"), ordered_json::array());
}

TEST_F(SyncExchange, FailedAddressLookupSendsEmptyIp)
{
    SyncManager noEcho(QUrl(QString::fromStdString(server.baseUrl())),
                       QUrl(QStringLiteral("http://127.0.0.1:%1/ip").arg(closedLoopbackPort())));
    StdoutCapture output;
    ASSERT_TRUE(waitForTask(noEcho.syncNotes(QStringLiteral("a@b.c"))).isSuccess());
    EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Error fetching public IP: Connection refused")});
    EXPECT_EQ(syncBodies().front().at("ip"), "");
}

TEST_F(SyncExchange, UnreachableServiceIsATransportError)
{
    SyncManager unreachable(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort())),
                            QUrl(QString::fromStdString(server.echoUrl())));
    StdoutCapture output;
    const ServerResult result = waitForTask(unreachable.syncNotes(QStringLiteral("a@b.c")));
    ASSERT_FALSE(result.isSuccess());
    EXPECT_EQ(result.error().domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(result.error().code, int(QNetworkReply::ConnectionRefusedError));
    EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Network request failed: Connection refused")});
    EXPECT_EQ(storedIds(), (QStringList{deletedId, liveId}));
}

TEST_F(SyncExchange, NoDatabaseSendsNothing)
{
    TemporaryHome withoutStore; // no ~/.tovik: the store cannot open its file
    StdoutCapture output;
    const ServerResult result = sync();
    ASSERT_FALSE(result.isSuccess());
    EXPECT_FALSE(result.error().description.isEmpty());
    EXPECT_EQ(output.lines(), QStringList());
    EXPECT_TRUE(server.receivedOn("/api/sync").empty());
    EXPECT_EQ(server.receivedOn("/ip").size(), 1u); // the lookup comes first
}

TEST_F(SyncExchange, ReplyAfterTheManagerIsGoneGivesSelfIsNil)
{
    answerSync(200, std::string(R"({"status":602,"msg":"m","notes":[]})"));
    server.holdSyncAnswers(true);
    auto *doomed = new SyncManager(QUrl(QString::fromStdString(server.baseUrl())),
                                   QUrl(QString::fromStdString(server.echoUrl())));
    StdoutCapture output;
    QCoro::Task<ServerResult> task = doomed->syncNotes(QStringLiteral("a@b.c"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.receivedOn("/api/sync").empty(); }, 10000));
    delete doomed;
    server.holdSyncAnswers(false);

    const ServerResult result = waitForTask(std::move(task));
    ASSERT_FALSE(result.isSuccess());
    EXPECT_EQ(result.error().description, QStringLiteral("Self is nil"));
    EXPECT_EQ(output.lines(), QStringList());
    EXPECT_EQ(storedIds(), (QStringList{deletedId, liveId})); // no purge
}

TEST_F(SyncExchange, ObservableStateIsNeverTouched)
{
    bool completed = false;
    manager.onSyncCompleted = [&completed] { completed = true; };
    QSignalSpy syncing(&manager, &SyncManager::isSyncingChanged);
    QSignalSpy message(&manager, &SyncManager::syncMessageChanged);

    StdoutCapture output;
    answerSync(200, std::string(R"({"status":602,"msg":"m","notes":[]})"));
    EXPECT_TRUE(sync().isSuccess());
    answerSync(500, std::string("x"));
    EXPECT_FALSE(sync().isSuccess());
    EXPECT_FALSE(waitForTask(manager.configEmailAddress(QStringLiteral("a@b.c"))).isSuccess());

    EXPECT_FALSE(manager.isSyncing());
    EXPECT_FALSE(manager.syncMessageValue().has_value());
    EXPECT_FALSE(completed);
    EXPECT_EQ(syncing.count(), 0);
    EXPECT_EQ(message.count(), 0);
}

TEST(SyncManagerAddresses, EndpointIsUnderTheBase)
{
    for (const char *base : {"https://sync.example.org", "https://sync.example.org/", "http://127.0.0.1:9"}) {
        SyncManager manager{QUrl(QString::fromLatin1(base)), QUrl(QStringLiteral("https://echo.example.org/"))};
        EXPECT_EQ(manager.syncURL().path(), QStringLiteral("/api/sync")) << base;
    }
    SyncManager nested{QUrl(QStringLiteral("https://example.org/tovik/")), QUrl()};
    EXPECT_EQ(nested.syncURL(), QUrl(QStringLiteral("https://example.org/tovik/api/sync")));
    SyncManager configured;
    EXPECT_EQ(configured.syncURL().path().right(9), QStringLiteral("/api/sync"));
    EXPECT_TRUE(configured.echoUrl().isValid());
}

} // namespace
