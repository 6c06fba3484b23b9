#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <optional>

class HttpClient;

// Asks the address-echo service for the machine's public address.
class DeviceIP {
public:
    // The echo service the build was configured with.
    DeviceIP();
    explicit DeviceIP(const QUrl &echoUrl);
    // Asks through `http`, which must outlive the lookup.
    DeviceIP(const QUrl &echoUrl, HttpClient &http);

    // The echo answer's body, unchanged (line breaks and all), whatever its HTTP
    // status. A transport failure prints "Error fetching public IP: " and the
    // error; an invalid address or a body that is not UTF-8 gives nothing silently.
    QCoro::Task<std::optional<QString>> fetchPublicIP() const;

private:
    QUrl m_echoUrl;
    HttpClient *m_http;
};
