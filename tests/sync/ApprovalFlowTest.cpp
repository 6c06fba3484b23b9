// The whole road of approving machines, through the real SyncManager, a real
// tovik-sync-server process and a real SMTP relay (aiosmtpd) on loopback:
// each machine is refused until the link mailed for it is followed, as a
// browser would (the page, then its button). And the local mode that
// scripts/run.sh starts (loopback, no relay) syncs at once, with no mail.

#include "DBManager.h"
#include "SyncManager.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <gtest/gtest.h>
#include <httplib.h>

namespace {

const QString typedAddress = QStringLiteral("Ann@Example.org");
const QString relayLogin = QStringLiteral("tovik:relay secret");

// aiosmtpd on a loopback port, over STARTTLS with a login and a throw-away
// certificate; each message it receives is one file in its folder.
class Relay {
public:
    Relay()
    {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                       "-keyout", path("key.pem"), "-out", certificate()});
        openssl.waitForFinished(30000);
        QDir(m_dir.path()).mkdir(QStringLiteral("mail"));
        m_process.start(QStringLiteral(SYSTEM_PYTHON), {QStringLiteral(SMTP_SINK_PATH), path("mail"),
                                                        QStringLiteral("starttls"), certificate(), path("key.pem"),
                                                        relayLogin});
        m_port = ServerProcess::listeningPort(m_process);
    }
    ~Relay()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    int port() const { return m_port; }
    QString certificate() const { return path("cert.pem"); }
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    int count() const
    {
        return int(QDir(path("mail")).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
    }
    // Mail number `number` (from 1), waited for up to 15 s; empty if it never came.
    QString mail(int number) const
    {
        const QString name = path("mail") + QStringLiteral("/%1.eml").arg(number, 4, 10, QLatin1Char('0'));
        QTest::qWaitFor([&] { return QFile::exists(name); }, 15000);
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

// One machine: its own home, with its own store and keyring.
struct Machine {
    explicit Machine(const ServerProcess &service) : sync(service.base(), service.echo())
    {
        DBManager::shared().setupDatabase();
    }
    ServerResult configure()
    {
        home.enter();
        return waitForTask(sync.configEmailAddress(typedAddress.toLower()));
    }
    ServerResult syncNow()
    {
        home.enter();
        return waitForTask(sync.syncNotes(typedAddress.toLower()));
    }
    QStringList contents() const
    {
        home.enter();
        QStringList texts;
        for (const Note &note : DBManager::shared().fetchAllNotes())
            texts << QString::fromUtf8(note.content);
        texts.sort();
        return texts;
    }
    void write(const QByteArray &content)
    {
        home.enter();
        const QString id = DBManager::shared().createNote();
        DBManager::shared().saveNote(id, content, 1, false, QString(), 0, QString());
    }

    TemporaryHome home;
    SyncManager sync;
};

QStringList query(const ServerProcess &service, const char *sql)
{
    SQLite::Database db(service.databasePath().toStdString(), SQLite::OPEN_READONLY);
    db.setBusyTimeout(5000);
    SQLite::Statement statement(db, sql);
    QStringList rows;
    while (statement.executeStep())
        rows << QString::fromStdString(statement.getColumn(0).getString());
    return rows;
}

QString linkIn(const QString &mail)
{
    static const QRegularExpression link(QStringLiteral("http://127\\.0\\.0\\.1:\\d+/approve\\?token=[0-9a-f]{64}"));
    return link.match(mail).captured(0);
}

// As a browser: the page the link opens, then its form's button.
void follow(const QString &link, const ServerProcess &service)
{
    const QUrl url(link);
    ASSERT_EQ(url.port(), service.port());
    httplib::Client browser("127.0.0.1", service.port());
    const auto page = browser.Get(url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200);
    const QString html = QString::fromStdString(page->body);
    const auto form = QRegularExpression(QStringLiteral("<form method=\"post\" action=\"([^\"]+)\">"
                                                        "<input type=\"hidden\" name=\"token\" value=\"([0-9a-f]+)\">"))
                          .match(html);
    ASSERT_TRUE(form.hasMatch()) << page->body;
    const QUrl target = url.resolved(QUrl(form.captured(1)));
    const auto confirmed = browser.Post(target.path().toStdString(), "token=" + form.captured(2).toStdString(),
                                        "application/x-www-form-urlencoded");
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(confirmed->status, 200);
}

void expectRefused(const ServerResult &result, const QString &approvalAnswer)
{
    ASSERT_TRUE(result.isSuccess()) << result.error().description.toStdString();
    EXPECT_EQ(result.message(), approvalAnswer);
}

TEST(ApprovalFlow, EachMachineSyncsOnceItsMailedLinkIsFollowed)
{
    Relay relay;
    ASSERT_GT(relay.port(), 0) << "the SMTP relay did not start";
    QTemporaryDir folder;
    const QString credentials = folder.filePath(QStringLiteral("relay-login"));
    {
        QFile file(credentials);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(relayLogin.toUtf8() + '\n');
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    const QString port = QString::number(closedLoopbackPort());
    const ServerProcess service(
        QStringLiteral(TOVIK_SYNC_SERVER_PATH),
        {"--port", port, "--smtp", QStringLiteral("smtp://127.0.0.1:%1").arg(relay.port()), "--smtp-ca",
         relay.certificate(), "--smtp-credentials", credentials, "--mail-from", "tovik@example.org",
         "--public-url", QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    ASSERT_GT(service.port(), 0) << "the sync service did not start";

    // The first machine configures the address: the service asks for the
    // mailed link, and the mail names the address.
    Machine first(service);
    first.write("written on the first machine");
    const ServerResult configured = first.configure();
    ASSERT_TRUE(configured.isSuccess()) << configured.error().description.toStdString();
    const QString approvalAnswer = configured.message();
    EXPECT_TRUE(approvalAnswer.contains(QStringLiteral("link"))) << approvalAnswer.toStdString();
    const QString firstMail = relay.mail(1);
    EXPECT_TRUE(firstMail.contains(QStringLiteral("X-Envelope-To: ann@example.org"))) << firstMail.toStdString();
    const QString firstLink = linkIn(firstMail);
    ASSERT_FALSE(firstLink.isEmpty()) << firstMail.toStdString();

    // Refused until the link's button is pressed: nothing stored.
    expectRefused(first.syncNow(), approvalAnswer);
    EXPECT_EQ(query(service, "SELECT noteid FROM notes"), QStringList());
    follow(firstLink, service);
    const ServerResult firstSync = first.syncNow();
    ASSERT_TRUE(firstSync.isSuccess()) << firstSync.error().description.toStdString();
    EXPECT_NE(firstSync.message(), approvalAnswer);
    EXPECT_EQ(query(service, "SELECT content FROM notes"), QStringList{"written on the first machine"});

    // Ten minutes on, as far as the service's mail limit goes.
    {
        SQLite::Database db(service.databasePath().toStdString(), SQLite::OPEN_READWRITE);
        db.setBusyTimeout(5000);
        db.exec("UPDATE ratelimits SET updatedms = updatedms - 600000 WHERE bucket LIKE 'mail:%'");
    }

    // A second machine: refused, and given nothing, until its own link is
    // followed; the first machine's link approved only the first machine.
    Machine second(service);
    expectRefused(second.configure(), approvalAnswer);
    const QString secondLink = linkIn(relay.mail(2));
    ASSERT_FALSE(secondLink.isEmpty());
    EXPECT_NE(secondLink, firstLink);
    expectRefused(second.syncNow(), approvalAnswer);
    EXPECT_EQ(second.contents(), QStringList());
    follow(secondLink, service);
    const ServerResult secondSync = second.syncNow();
    ASSERT_TRUE(secondSync.isSuccess()) << secondSync.error().description.toStdString();
    EXPECT_EQ(second.contents(), QStringList{"written on the first machine"});

    // Both stay approved, each by its own secret.
    EXPECT_TRUE(first.syncNow().isSuccess());
    EXPECT_EQ(query(service, "SELECT email FROM machines"), (QStringList{"ann@example.org", "ann@example.org"}));
    EXPECT_EQ(relay.count(), 2);
}

TEST(ApprovalFlow, LocalServiceWithoutRelaySyncsAtOnce)
{
    // As scripts/run.sh starts it: a loopback port and a database, nothing more.
    const ServerProcess service(QStringLiteral(TOVIK_SYNC_SERVER_PATH));
    ASSERT_GT(service.port(), 0);

    Machine first(service);
    first.write("written on the first machine");
    ASSERT_TRUE(first.configure().isSuccess());
    const ServerResult firstSync = first.syncNow();
    ASSERT_TRUE(firstSync.isSuccess()) << firstSync.error().description.toStdString();

    Machine second(service);
    const ServerResult secondSync = second.syncNow();
    ASSERT_TRUE(secondSync.isSuccess()) << secondSync.error().description.toStdString();
    EXPECT_EQ(second.contents(), QStringList{"written on the first machine"});
    EXPECT_EQ(query(service, "SELECT email FROM machines"), (QStringList{"ann@example.org", "ann@example.org"}));
}

} // namespace
