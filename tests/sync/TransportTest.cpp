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

// The reply's head with a Content-Length 40 bytes beyond what follows it.
std::string headPromisingMore()
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
        + std::to_string(purgingReply.size() + 40) + "\r\n\r\n";
}

struct TransportCase {
    const char *name;
    // Where the broken service listens; made fresh for each operation.
    std::function<std::pair<std::shared_ptr<void>, QUrl>()> service;
    QNetworkReply::NetworkError code;
    // Short only where the time-out is what the case is about: elsewhere a
    // busy machine must not turn the case into a time-out.
    std::chrono::milliseconds timeout = HttpClient::defaultTimeout;
};

std::pair<std::shared_ptr<void>, QUrl> rawService(std::string bytes, RawServer::Then then)
{
    auto server = std::make_shared<RawServer>(std::move(bytes), then);
    return {server, QUrl(QString::fromStdString(server->baseUrl()))};
}

std::vector<TransportCase> transportCases()
{
    return {
        {"body shorter than its Content-Length",
         [] { return rawService(headPromisingMore() + purgingReply, RawServer::Then::stayOpen); },
         QNetworkReply::TimeoutError, 200ms},
        {"connection closed mid-body",
         [] { return rawService(headPromisingMore() + purgingReply, RawServer::Then::close); },
         QNetworkReply::RemoteHostClosedError},
        {"never answering", [] { return rawService(std::string(), RawServer::Then::stayOpen); },
         QNetworkReply::TimeoutError, 200ms},
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
};

TEST_F(Transport, EveryBrokenExchangeIsANetworkFailure)
{
    // No address lookup in the two exchanges: only the service's answer speaks.
    const QUrl echo;
    for (const TransportCase &c : transportCases()) {
        SCOPED_TRACE(c.name);
        HttpClient http(c.timeout);
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

TEST_F(Transport, ChunkedBodyCutOffNeverPurges)
{
    // Qt sometimes ends a chunked reply at the close without an error; the
    // parser then finds the cut, so the sync fails either way.
    const std::string cut = purgingReply.substr(0, purgingReply.size() / 2);
    char size[16];
    std::snprintf(size, sizeof size, "%zx", purgingReply.size());
    RawServer service("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
                          + std::string(size) + "\r\n" + cut,
                      RawServer::Then::close);
    SyncManager manager(QUrl(QString::fromStdString(service.baseUrl())), QUrl());
    StdoutCapture output;
    const ServerResult result = waitForTask(manager.syncNotes(QStringLiteral("a@b.c")));
    EXPECT_FALSE(result.isSuccess());
    const QStringList lines = output.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Network request failed: "))
                || lines.front().startsWith(QStringLiteral("JSON parsing error: ")))
        << lines.front().toStdString();
    EXPECT_EQ(storedIds(), (QStringList{QStringLiteral("deleted"), QStringLiteral("live")}));
}

TEST(HttpClientTimeout, DefaultsToOneMinute)
{
    EXPECT_EQ(HttpClient().timeout(), std::chrono::milliseconds(60000));
    EXPECT_EQ(HttpClient::shared().timeout(), std::chrono::milliseconds(60000));
}

} // namespace
