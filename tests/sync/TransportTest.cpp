// Requests that never get a whole answer: each is a transport failure for the
// sync, the configuration request and the address lookup alike.

#include "DeviceIP.h"
#include "HttpClient.h"
#include "support/RawServer.h"
#include "support/SyncFixture.h"

#include <QCoro/QCoroTask>
#include <QNetworkReply>

#include <memory>

namespace {

using namespace std::chrono_literals;

// A complete, valid 602 reply: taken at its word it would purge.
const std::string purgingReply = R"({"status":602,"msg":"m","notes":[]})";

struct TransportCase {
    const char *name;
    // Where the broken service listens; made fresh for each operation.
    std::function<std::pair<std::shared_ptr<void>, QUrl>()> service;
    QNetworkReply::NetworkError code;
};

std::pair<std::shared_ptr<void>, QUrl> rawService(std::optional<std::string> bytes)
{
    auto server = std::make_shared<RawServer>(std::move(bytes));
    return {server, QUrl(QString::fromStdString(server->baseUrl()))};
}

std::vector<TransportCase> transportCases()
{
    return {
        {"body shorter than its Content-Length",
         [] {
             return rawService("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                               + std::to_string(purgingReply.size() + 40) + "\r\n\r\n" + purgingReply);
         },
         QNetworkReply::RemoteHostClosedError},
        {"connection closed mid-body",
         [] {
             char size[16];
             std::snprintf(size, sizeof size, "%zx", purgingReply.size());
             // The last chunk and the terminating empty chunk never come.
             return rawService("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
                               + std::string(size) + "\r\n" + purgingReply + "\r\n");
         },
         QNetworkReply::RemoteHostClosedError},
        {"never answering", [] { return rawService(std::nullopt); }, QNetworkReply::TimeoutError},
        {"refused",
         [] {
             return std::pair<std::shared_ptr<void>, QUrl>{
                 nullptr, QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()))};
         },
         QNetworkReply::ConnectionRefusedError},
    };
}

class Transport : public SyncFixture {
protected:
    void SetUp() override
    {
        store(makeNote(QStringLiteral("deleted"), "gone", 100, true));
        store(makeNote(QStringLiteral("live"), "kept", 200));
    }

    // Short enough that the silent service fails the test quickly.
    HttpClient http{200ms};
};

TEST_F(Transport, EveryBrokenExchangeIsANetworkFailure)
{
    const QUrl echo(QString::fromStdString(server.echoUrl()));
    for (const TransportCase &c : transportCases()) {
        SCOPED_TRACE(c.name);
        {
            const auto [service, base] = c.service();
            SyncManager manager(base, echo, http);
            StdoutCapture output;
            const ServerResult result = waitForTask(manager.syncNotes(QStringLiteral("a@b.c")));
            ASSERT_FALSE(result.isSuccess());
            EXPECT_EQ(result.error().domain, QStringLiteral("QNetworkReply"));
            EXPECT_EQ(result.error().code, int(c.code)) << result.error().description.toStdString();
            EXPECT_EQ(output.lines(), QStringList{QStringLiteral("Network request failed: ") + result.error().description});
            EXPECT_EQ(storedIds(), (QStringList{QStringLiteral("deleted"), QStringLiteral("live")})) << "nothing purged";
        }
        {
            const auto [service, base] = c.service();
            SyncManager manager(base, echo, http);
            StdoutCapture output;
            const ServerResult result = waitForTask(manager.configEmailAddress(QStringLiteral("a@b.c")));
            ASSERT_FALSE(result.isSuccess());
            EXPECT_EQ(result.error().domain, QStringLiteral("QNetworkReply"));
            EXPECT_EQ(result.error().code, int(c.code));
            EXPECT_EQ(output.lines(), QStringList());
        }
        {
            const auto [service, base] = c.service();
            QUrl lookup = base;
            lookup.setPath(QStringLiteral("/ip"));
            StdoutCapture output;
            EXPECT_EQ(waitForTask(DeviceIP(lookup, http).fetchPublicIP()), std::nullopt);
            const QStringList lines = output.lines();
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Error fetching public IP: "))) << lines.front().toStdString();
        }
    }
}

TEST(HttpClientTimeout, DefaultsToOneMinute)
{
    EXPECT_EQ(HttpClient().timeout(), std::chrono::milliseconds(60000));
    EXPECT_EQ(HttpClient::shared().timeout(), std::chrono::milliseconds(60000));
}

} // namespace
