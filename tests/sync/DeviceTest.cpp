#include "DeviceIP.h"
#include "DeviceUUID.h"
#include "support/CannedServer.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QUrl toUrl(const std::string &text)
{
    return QUrl(QString::fromStdString(text));
}

TEST(DeviceIP, GivesTheEchoBodyUnchangedWhateverTheStatus)
{
    struct Case {
        const char *name;
        CannedServer::Answer answer;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"trailing line break kept", {200, "198.51.100.4\n", "text/plain"}, QStringLiteral("198.51.100.4\n")},
        {"white space kept", {200, "  2001:db8::1 \r\n", "text/plain"}, QStringLiteral("  2001:db8::1 \r\n")},
        {"error status with a text body", {500, "upstream broke", "text/plain"}, QStringLiteral("upstream broke")},
        {"not an address at all", {200, "<html>hi</html>", "text/html"}, QStringLiteral("<html>hi</html>")},
        {"empty body", {200, "", "text/plain"}, QString()},
        {"not UTF-8", {200, "\xFF\xFE\x31", "text/plain"}, std::nullopt},
    };
    CannedServer server;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.setEchoAnswer(c.answer);
        StdoutCapture output;
        const auto ip = waitForTask(DeviceIP(toUrl(server.echoUrl())).fetchPublicIP());
        EXPECT_EQ(ip, c.expected);
        EXPECT_EQ(output.lines(), QStringList());
    }
    EXPECT_EQ(server.receivedOn("/ip").size(), std::size(cases));
    EXPECT_EQ(server.receivedOn("/ip").front().method, "GET");
}

TEST(DeviceIP, TransportFailurePrintsAndGivesNothing)
{
    StdoutCapture output;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/ip").arg(closedLoopbackPort()));
    EXPECT_FALSE(waitForTask(DeviceIP(url).fetchPublicIP()).has_value());
    const QStringList lines = output.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.front(), QStringLiteral("Error fetching public IP: Connection refused"));
}

TEST(DeviceIP, InvalidAddressMakesNoRequest)
{
    StdoutCapture output;
    EXPECT_FALSE(waitForTask(DeviceIP(QUrl(QStringLiteral("no address"))).fetchPublicIP()).has_value());
    EXPECT_FALSE(waitForTask(DeviceIP(QUrl()).fetchPublicIP()).has_value());
    EXPECT_EQ(output.lines(), QStringList());
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

TEST(DeviceUUID, ReadsTheFirmwareUuidWithoutItsLineBreak)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("product_uuid"), "4c4c4544-0042-3510-8052-b4c04f4e3232\n");

    StdoutCapture output;
    EXPECT_EQ(DeviceUUID(path).platformUUID(), std::optional<QString>(QStringLiteral("4c4c4544-0042-3510-8052-b4c04f4e3232")));
    EXPECT_EQ(output.lines(), QStringList());
}

TEST(DeviceUUID, UnreadableSourcePrintsTheFailureLine)
{
    QTemporaryDir dir;
    const QString empty = writeFile(dir, QStringLiteral("empty"), QByteArray());

    for (const QString &path : {dir.filePath(QStringLiteral("missing")), empty, dir.path()}) {
        SCOPED_TRACE(path.toStdString());
        StdoutCapture output;
        EXPECT_FALSE(DeviceUUID(path).platformUUID().has_value());
        EXPECT_EQ(output.lines(), QStringList{QString::fromUtf8("无法获取 macOS UUID")});
    }
}

TEST(DeviceUUID, ThisMachineGivesAValueOrTheFailureLine)
{
    StdoutCapture output;
    const auto uuid = DeviceUUID().platformUUID();
    if (uuid) {
        EXPECT_FALSE(uuid->isEmpty());
        EXPECT_FALSE(uuid->endsWith(QLatin1Char('\n')));
        EXPECT_EQ(output.lines(), QStringList());
    } else {
        EXPECT_EQ(output.lines(), QStringList{QString::fromUtf8("无法获取 macOS UUID")});
    }
}

} // namespace
