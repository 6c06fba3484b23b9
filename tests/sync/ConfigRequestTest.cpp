// The e-mail configuration request against a canned server on loopback.

#include "EmailScramble.h"
#include "Keychain.h"
#include "support/SyncFixture.h"

#include <QCoro/QCoroTask>
#include <QNetworkReply>

using nlohmann::ordered_json;

namespace {

class ConfigRequest : public SyncFixture {
protected:
    void SetUp() override { ASSERT_TRUE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")); }

    ServerResult configure(SyncManager &target, const QString &email)
    {
        return waitForTask(target.configEmailAddress(email));
    }

    static std::optional<QString> storedAddress()
    {
        const auto scrambled = loadEmailFromKeychain();
        if (!scrambled)
            return std::nullopt;
        return xorDecrypt(*scrambled, QString::fromLatin1(emailXorKey));
    }
};

TEST_F(ConfigRequest, OnlyAStringMsgIsASuccess)
{
    struct Case {
        const char *name;
        int httpStatus;
        std::string body;
        bool success;
        QString text;
    };
    const QString invalid = QStringLiteral("Invalid server response");
    const Case cases[] = {
        {"601", 200, R"({"status":601,"msg":"Email configured"})", true, "Email configured"},
        {"any other status", 200, R"({"status":603,"msg":"still fine"})", true, "still fine"},
        {"no status at all", 200, R"({"msg":"only msg"})", true, "only msg"},
        {"602 without msg", 200, R"({"status":602})", false, invalid},
        {"msg not a string", 200, R"({"status":601,"msg":1})", false, invalid},
        {"not JSON", 200, "Service Unavailable", false, invalid},
        {"top-level array", 200, R"([{"msg":"m"}])", false, invalid},
        {"a number beyond any double", 200, R"({"status":601,"msg":"m","extra":1e400})", false, invalid},
        {"one huge negative number", 200, "-1e400", false, invalid},
        {"bytes that are not UTF-8", 200, "{\"msg\":\"\xff\"}", false, invalid},
        {"a reply cut short", 200, R"({"msg":"m")", false, invalid},
        {"204 with an empty body", 204, "", false, invalid},
        {"HTTP 400 with a JSON body", 400, R"({"msg":"bad"})", false, "Response status code was unacceptable: 400."},
        {"200 with an empty body", 200, "", false,
         "Response could not be serialized, input data was nil or zero length."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        answerSync(c.httpStatus, c.body);
        StdoutCapture output;
        const ServerResult result = configure(manager, QStringLiteral("a@b.c"));
        EXPECT_EQ(result.isSuccess(), c.success);
        EXPECT_EQ(c.success ? result.message() : result.error().description, c.text);
        EXPECT_EQ(output.lines(), QStringList()); // this exchange prints nothing
    }
}

TEST_F(ConfigRequest, KeychainKeepsTheAddressAsTypedAndTheBodyLowerCase)
{
    answerSync(200, std::string(R"({"status":601,"msg":"ok"})"));
    ASSERT_TRUE(configure(manager, QStringLiteral("Alice@Example.COM")).isSuccess());

    EXPECT_EQ(storedAddress(), std::optional<QString>(QStringLiteral("Alice@Example.COM")));
    const auto bodies = syncBodies();
    ASSERT_EQ(bodies.size(), 1u);
    const ordered_json expected = {{"email", "alice@example.com"}, {"ip", "203.0.113.7\n"},
                                   {"notes", ordered_json::array()}};
    EXPECT_EQ(bodies.front(), expected);
    EXPECT_EQ(server.receivedOn("/api/sync").front().contentType, "application/json");
}

TEST_F(ConfigRequest, LocalNotesAreNotSent)
{
    store(makeNote(QStringLiteral("n"), "local", 10));
    ASSERT_TRUE(configure(manager, QStringLiteral("a@b.c")).isSuccess());
    EXPECT_EQ(syncBodies().front().at("notes"), ordered_json::array());
}

TEST_F(ConfigRequest, NoNetworkStillStoresTheAddress)
{
    const int closed = closedLoopbackPort();
    SyncManager offline(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed)),
                        QUrl(QStringLiteral("http://127.0.0.1:%1/ip").arg(closed)));
    StdoutCapture output;
    const ServerResult result = configure(offline, QStringLiteral("Offline@Example.org"));
    ASSERT_FALSE(result.isSuccess());
    EXPECT_EQ(result.error().domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(result.error().code, int(QNetworkReply::ConnectionRefusedError));
    EXPECT_EQ(result.error().description, QStringLiteral("Connection refused"));
    // Only the address lookup speaks.
    EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Error fetching public IP: Connection refused")});
    EXPECT_EQ(storedAddress(), std::optional<QString>(QStringLiteral("Offline@Example.org")));
}

TEST_F(ConfigRequest, SecondAddressReplacesTheFirst)
{
    ASSERT_TRUE(configure(manager, QStringLiteral("first@example.org")).isSuccess());
    ASSERT_TRUE(configure(manager, QStringLiteral("second@example.org")).isSuccess());
    EXPECT_EQ(storedAddress(), std::optional<QString>(QStringLiteral("second@example.org")));
}

} // namespace
