// This machine's secret: made from the system's random source, kept in its own
// keyring item (here the owner-only file, no Secret Service being reachable),
// one per address, and sent in the Authorization header of every request.

#include "EmailScramble.h"
#include "Keychain.h"
#include "KeyringItem.h"
#include "MachineSecret.h"
#include "support/SyncFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/stat.h>

namespace {

QByteArray storedSecretItem()
{
    QFile file(KeyringItem::fallbackPath(KeyringItem::machineSecretItem));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void storeSecretItem(const QByteArray &value)
{
    KeyringItem item(KeyringItem::Backend::file, KeyringItem::machineSecretItem);
    if (item.add(value) == KeyringItem::duplicateItem)
        item.update(value);
}

QString bearerOf(const std::string &secret)
{
    return QStringLiteral("Bearer ") + QString::fromStdString(secret);
}

class MachineSecret : public SyncFixture {
protected:
    void SetUp() override { ASSERT_TRUE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")); }

    // The Authorization header of each request that reached the sync endpoint.
    QStringList authorizations() const
    {
        QStringList headers;
        for (const auto &request : server.receivedOn("/api/sync"))
            headers << QString::fromStdString(request.authorization);
        return headers;
    }
};

TEST(MachineSecretDraws, AreFullWidthLowerHexAndNeverRepeat)
{
    QSet<QString> seen;
    // Every hex digit turns up at every place: a secret padded with zeros, or
    // drawn with fewer than 256 bits, would leave places short of digits.
    std::array<QSet<QChar>, 64> digitsAt;
    for (int i = 0; i < 1000; ++i) {
        const QString secret = makeMachineSecret();
        ASSERT_TRUE(isMachineSecret(secret)) << secret.toStdString();
        seen.insert(secret);
        for (int at = 0; at < 64; ++at)
            digitsAt[at].insert(secret.at(at));
    }
    EXPECT_EQ(seen.size(), 1000);
    for (int at = 0; at < 64; ++at)
        EXPECT_EQ(digitsAt[at].size(), 16) << "place " << at;

    for (const char *text : {"", "0123", "ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef0123456789",
                             "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdeg",
                             "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0"})
        EXPECT_FALSE(isMachineSecret(QString::fromLatin1(text))) << text;
}

TEST_F(MachineSecret, OneSecretPerAddressKeptByTheOwnerAlone)
{
    const std::optional<QString> first = machineSecretFor(QStringLiteral("Ann@Example.org"));
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(isMachineSecret(*first));
    const QString path = KeyringItem::fallbackPath(KeyringItem::machineSecretItem);
    EXPECT_EQ(path, QDir::homePath() + QStringLiteral("/.tovik/machine-secret"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, mode_t(0600));
    EXPECT_FALSE(storedSecretItem().contains("example")); // the address is not written out in clear
    EXPECT_FALSE(loadEmailFromKeychain().has_value());  // the address item is another item

    EXPECT_EQ(machineSecretFor(QStringLiteral("ann@example.org")), first);
    const std::optional<QString> second = machineSecretFor(QStringLiteral("bob@example.org"));
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(second, first);
    EXPECT_EQ(machineSecretFor(QStringLiteral("bob@example.org")), second);
}

TEST_F(MachineSecret, DamagedItemGetsAFreshSecret)
{
    const QString address = QStringLiteral("ann@example.org");
    const QString good = makeMachineSecret();
    const QByteArray digest = storedSecretItem(); // nothing yet
    ASSERT_TRUE(digest.isEmpty());
    ASSERT_EQ(machineSecretFor(address), machineSecretFor(address));
    const QByteArray intact = storedSecretItem();
    const QByteArray addressPart = intact.mid(intact.indexOf('\n'));

    const struct {
        const char *name;
        QByteArray value;
    } cases[] = {
        {"empty", QByteArray()},
        {"no address part", good.toLatin1()},
        {"another address's", good.toLatin1() + "\n" + QByteArray(64, 'a')},
        {"upper-case secret", good.toUpper().toLatin1() + addressPart},
        {"short secret", good.left(63).toLatin1() + addressPart},
        {"not text", QByteArray("\xff\xfe\n", 3) + addressPart},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        storeSecretItem(c.value);
        const std::optional<QString> secret = machineSecretFor(address);
        ASSERT_TRUE(secret.has_value());
        EXPECT_TRUE(isMachineSecret(*secret));
        EXPECT_FALSE(c.value.startsWith(secret->toLatin1()));
        EXPECT_EQ(machineSecretFor(address), secret);
    }
}

TEST_F(MachineSecret, SecretThatCannotBeKeptIsNotGiven)
{
    // A folder where the file should be: neither read nor written.
    ASSERT_TRUE(QDir().mkpath(KeyringItem::fallbackPath(KeyringItem::machineSecretItem)));
    EXPECT_FALSE(machineSecretFor(QStringLiteral("ann@example.org")).has_value());

    // The sync then sends nothing; the configuration still goes, unsigned.
    StdoutCapture output;
    const ServerResult synced = waitForTask(manager.syncNotes(QStringLiteral("ann@example.org")));
    EXPECT_FALSE(synced.isSuccess());
    EXPECT_EQ(synced.error().description, QStringLiteral("Machine secret not stored"));
    EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Error keeping the machine secret")});
    EXPECT_TRUE(server.receivedOn("/api/sync").empty());

    answerSync(200, std::string(R"({"status":601,"msg":"m"})"));
    EXPECT_TRUE(waitForTask(manager.configEmailAddress(QStringLiteral("ann@example.org"))).isSuccess());
    EXPECT_EQ(authorizations(), QStringList{QString()});
}

TEST_F(MachineSecret, CallersAtOnceShareOneSecret)
{
    QList<QFuture<std::optional<QString>>> callers;
    for (int i = 0; i < 8; ++i)
        callers << QtConcurrent::run([] { return machineSecretFor(QStringLiteral("ann@example.org")); });
    const std::optional<QString> kept = machineSecretFor(QStringLiteral("ann@example.org"));
    ASSERT_TRUE(kept.has_value());
    for (auto &caller : callers)
        EXPECT_EQ(caller.result(), kept);
}

// Configuration makes the secret, a new address a new one; a sync after an
// upgrade (address kept, no secret yet) makes it then. Every request carries
// it, and the body is as it always was.
TEST_F(MachineSecret, EveryRequestCarriesTheSecretOfItsAddress)
{
    answerSync(200, std::string(R"({"status":601,"msg":"m"})"));
    saveEmailToKeychain(xorEncrypt(QStringLiteral("ann@example.org"), QString::fromLatin1(emailXorKey)));
    ASSERT_TRUE(waitForTask(manager.syncNotes(QStringLiteral("ann@example.org"))).isSuccess());
    const std::optional<QString> ann = machineSecretFor(QStringLiteral("ann@example.org"));
    ASSERT_TRUE(ann.has_value());

    ASSERT_TRUE(waitForTask(manager.configEmailAddress(QStringLiteral("Ann@Example.org"))).isSuccess());
    ASSERT_TRUE(waitForTask(manager.configEmailAddress(QStringLiteral("bob@example.org"))).isSuccess());
    const std::optional<QString> bob = machineSecretFor(QStringLiteral("bob@example.org"));
    ASSERT_TRUE(bob.has_value());
    ASSERT_TRUE(waitForTask(manager.syncNotes(QStringLiteral("bob@example.org"))).isSuccess());

    const QStringList expected{bearerOf(ann->toStdString()), bearerOf(ann->toStdString()),
                               bearerOf(bob->toStdString()), bearerOf(bob->toStdString())};
    EXPECT_EQ(authorizations(), expected);
    EXPECT_NE(*ann, *bob);
    for (const auto &body : syncBodies()) {
        EXPECT_EQ(body.size(), 3u);
        EXPECT_TRUE(body.contains("email") && body.contains("ip") && body.contains("notes"));
    }
}

// A refusal in the service's words (a rate limit) reaches the user; the sync
// still prints the client's error as before.
TEST_F(MachineSecret, RefusalsKeepTheServicesWords)
{
    const QString unacceptable = QStringLiteral("Response status code was unacceptable: 429.");
    const struct {
        const char *name;
        std::string body;
        QString serviceMessage;
    } cases[] = {
        {"JSON msg", R"({"msg":"Too many requests; try again in a minute."})",
         QStringLiteral("Too many requests; try again in a minute.")},
        {"msg not a string", R"({"msg":7})", QString()},
        {"not JSON", "Too Many Requests", QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        answerSync(429, c.body);
        StdoutCapture output;
        const ServerResult synced = waitForTask(manager.syncNotes(QStringLiteral("ann@example.org")));
        EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Network request failed: ") + unacceptable});
        ASSERT_FALSE(synced.isSuccess());
        EXPECT_EQ(synced.error().code, 429);
        EXPECT_EQ(synced.error().description, unacceptable);
        EXPECT_EQ(synced.error().serviceMessage, c.serviceMessage);

        const ServerResult configured = waitForTask(manager.configEmailAddress(QStringLiteral("ann@example.org")));
        ASSERT_FALSE(configured.isSuccess());
        EXPECT_EQ(configured.error().shownText(), c.serviceMessage.isEmpty() ? unacceptable : c.serviceMessage);
    }
}

} // namespace
