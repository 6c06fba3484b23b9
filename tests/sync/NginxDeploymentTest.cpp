// The shipped deployment: the nginx site file, as shipped but for its ports
// and paths, in front of the service, with a throw-away certificate authority;
// machines sync through it over https with the real SyncManager.

#include "DBManager.h"
#include "HttpClient.h"
#include "SyncManager.h"
#include "support/ServerProcess.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

// The site file with this test's ports and paths in place of the shipped ones;
// each shipped value must be there to be replaced.
QString siteForTest(const QString &certificates, int httpsPort, int httpPort, int servicePort)
{
    QString site = fileText(QStringLiteral(TOVIK_NGINX_SITE));
    const std::pair<QString, QString> replacements[] = {
        {QStringLiteral("listen 443 ssl;"), QStringLiteral("listen 127.0.0.1:%1 ssl;").arg(httpsPort)},
        {QStringLiteral("listen [::]:443 ssl;"), QString()},
        {QStringLiteral("listen 80;"), QStringLiteral("listen 127.0.0.1:%1;").arg(httpPort)},
        {QStringLiteral("listen [::]:80;"), QString()},
        {QStringLiteral("/etc/letsencrypt/live/sync.example.org/fullchain.pem"), certificates + "/leaf-chain.pem"},
        {QStringLiteral("/etc/letsencrypt/live/sync.example.org/privkey.pem"), certificates + "/leaf.key"},
        {QStringLiteral("server 127.0.0.1:8765;"), QStringLiteral("server 127.0.0.1:%1;").arg(servicePort)},
        {QStringLiteral("server_name sync.example.org;"), QStringLiteral("server_name localhost;")},
    };
    for (const auto &[from, to] : replacements) {
        EXPECT_TRUE(site.contains(from)) << from.toStdString();
        site.replace(from, to);
    }
    return site;
}

// nginx in the foreground with a configuration of its own in `folder`.
class Nginx {
public:
    Nginx(const QString &folder, const QString &site)
    {
        writeFile(folder + "/site.conf", site);
        // Upstream connections come from 127.0.0.3, so that the service tells
        // nginx's address from the client's 127.0.0.1.
        QString main = QStringLiteral("daemon off;\nworker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log;\n"
                                      "events { worker_connections 256; }\n"
                                      "http {\n  access_log off;\n  client_body_temp_path %1/body;\n"
                                      "  proxy_temp_path %1/proxy;\n  fastcgi_temp_path %1/fastcgi;\n"
                                      "  uwsgi_temp_path %1/uwsgi;\n  scgi_temp_path %1/scgi;\n"
                                      "  proxy_bind 127.0.0.3;\n  include %1/site.conf;\n}\n")
                           .arg(folder);
        if (::geteuid() == 0)
            main.prepend(QStringLiteral("user root;\n"));
        writeFile(folder + "/nginx.conf", main);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(TOVIK_NGINX_PATH),
                        {QStringLiteral("-p"), folder, QStringLiteral("-e"), folder + "/error.log",
                         QStringLiteral("-c"), folder + "/nginx.conf"});
        m_errorLog = folder + "/error.log";
    }
    ~Nginx()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    bool servesOn(int port)
    {
        return QTest::qWaitFor([&] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            return probe.waitForConnected(200) || m_process.state() == QProcess::NotRunning;
        }, 10000) && m_process.state() == QProcess::Running;
    }
    std::string diagnostics() { return (m_process.readAll() + fileText(m_errorLog).toUtf8()).toStdString(); }

private:
    QProcess m_process;
    QString m_errorLog;
};

struct Machine {
    Machine(const QUrl &base, const QUrl &echo) : sync(base, echo) { DBManager::shared().setupDatabase(); }
    ServerResult syncNow()
    {
        home.enter();
        return waitForTask(sync.syncNotes(QStringLiteral("user@example.org")));
    }

    TemporaryHome home;
    SyncManager sync;
};

TEST(NginxDeployment, MachinesSyncThroughNginxOverHttps)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString command = QStringLiteral("sh '%1' '%2'").arg(QStringLiteral(TOVIK_MAKE_TEST_CA), folder.path());
    ASSERT_EQ(std::system(command.toUtf8().constData()), 0) << "openssl could not make the certificates";

    // Machines are approved on first use here (--open): approval by mail has
    // tests of its own.
    ServerProcess service(QStringLiteral(TOVIK_SYNC_SERVER_PATH),
                          {QStringLiteral("--trust-proxy"), QStringLiteral("127.0.0.3"), QStringLiteral("--open")});
    ASSERT_GT(service.port(), 0) << "the service did not report its port";
    const int httpsPort = closedLoopbackPort();
    const int httpPort = closedLoopbackPort();
    Nginx nginx(folder.path(), siteForTest(folder.path(), httpsPort, httpPort, service.port()));
    ASSERT_TRUE(nginx.servesOn(httpsPort)) << nginx.diagnostics();

    // The app trusts the throw-away authority as a system one.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(QSslCertificate::fromPath(folder.path() + "/ca.pem"));
    QSslConfiguration::setDefaultConfiguration(tls);
    const QUrl base(QStringLiteral("https://localhost:%1").arg(httpsPort));
    const QUrl echo(QStringLiteral("https://localhost:%1/ip").arg(httpsPort));

    // The service sees the client's address, forwarded by nginx, not nginx's own.
    const HttpOutcome ip = waitForTask(HttpClient::shared().get(echo));
    EXPECT_EQ(ip.status, 200) << (ip.error ? ip.error->description.toStdString() : std::string());
    EXPECT_EQ(ip.body, QByteArray("127.0.0.1"));

    Machine a(base, echo);
    Machine b(base, echo);
    a.home.enter();
    const ServerResult configured = waitForTask(a.sync.configEmailAddress(QStringLiteral("user@example.org")));
    ASSERT_TRUE(configured.isSuccess()) << configured.error().description.toStdString() << nginx.diagnostics();
    EXPECT_EQ(configured.message(), QStringLiteral("Email configured"));

    // A store of several megabytes passes nginx's body limit.
    const QString small = DBManager::shared().createNote();
    DBManager::shared().saveNote(small, "through nginx", 1, false, QString(), 0, QString());
    const QString large = DBManager::shared().createNote();
    DBManager::shared().saveNote(large, QByteArray(3 << 20, 'x'), 1, false, QString(), 0, QString());
    const ServerResult sent = a.syncNow();
    ASSERT_TRUE(sent.isSuccess()) << sent.error().description.toStdString() << nginx.diagnostics();

    const ServerResult received = b.syncNow();
    ASSERT_TRUE(received.isSuccess()) << received.error().description.toStdString();
    b.home.enter();
    EXPECT_EQ(DBManager::shared().fetchNote(small).content, QByteArray("through nginx"));
    EXPECT_EQ(DBManager::shared().fetchNote(large).content.size(), 3 << 20);
}

} // namespace
