#include "DeviceIP.h"

#include "Console.h"
#include "HttpClient.h"
#include "ServiceAddresses.h"
#include "Utf8.h"

DeviceIP::DeviceIP() : DeviceIP(QUrl(QString::fromUtf8(tovikEchoUrl), QUrl::StrictMode)) {}

DeviceIP::DeviceIP(const QUrl &echoUrl) : DeviceIP(echoUrl, HttpClient::shared()) {}

DeviceIP::DeviceIP(const QUrl &echoUrl, HttpClient &http) : m_echoUrl(echoUrl), m_http(&http) {}

QCoro::Task<std::optional<QString>> DeviceIP::fetchPublicIP() const
{
    if (!m_echoUrl.isValid() || m_echoUrl.isRelative() || m_echoUrl.host().isEmpty())
        co_return std::nullopt;
    HttpOutcome outcome = co_await m_http->get(m_echoUrl);
    if (outcome.failed()) {
        printLine(QStringLiteral("Error fetching public IP: ") + outcome.error->description);
        co_return std::nullopt;
    }
    co_return strictUtf8(outcome.body);
}
