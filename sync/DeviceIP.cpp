#include "DeviceIP.h"

#include "Console.h"
#include "HttpClient.h"
#include "ServiceAddresses.h"
#include "Utf8.h"

DeviceIP::DeviceIP() : DeviceIP(QUrl(QString::fromUtf8(tovikEchoUrl), QUrl::StrictMode)) {}

DeviceIP::DeviceIP(const QUrl &echoUrl) : m_echoUrl(echoUrl) {}

QCoro::Task<std::optional<QString>> DeviceIP::fetchPublicIP() const
{
    if (!m_echoUrl.isValid() || m_echoUrl.isRelative() || m_echoUrl.host().isEmpty())
        co_return std::nullopt;
    HttpOutcome outcome = co_await HttpClient::shared().get(m_echoUrl);
    if (outcome.failed()) {
        printLine(QStringLiteral("Error fetching public IP: ") + outcome.error->description);
        co_return std::nullopt;
    }
    co_return strictUtf8(outcome.body);
}
