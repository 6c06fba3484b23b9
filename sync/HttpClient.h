#pragma once

#include "ServerResult.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// What one request gave: the body and the HTTP status, or the client's error.
struct HttpOutcome {
    std::optional<ServerError> error;
    int status = 0; // 0 when no HTTP answer arrived
    QByteArray body;
    // The body as it came, gzip-packed: HttpClient::unpacked() opens it.
    bool gzipped = false;

    bool failed() const { return error.has_value(); }
};

// The application's HTTP client. One instance per thread shares one
// QNetworkAccessManager; completions run on that thread (the main thread for
// every request the application makes).
//
// Transport errors keep Qt's domain "QNetworkReply", its error code and text;
// an answer cut short counts as one, whatever status came before the cut.
// A request that makes no progress for the time-out fails with
// QNetworkReply::TimeoutError. Failed validation of an answer has the domain
// "HttpClient" and the HTTP status as its code.
class HttpClient {
public:
    static constexpr const char *transportDomain = "QNetworkReply";
    static constexpr const char *validationDomain = "HttpClient";
    static constexpr std::chrono::milliseconds defaultTimeout{60000};
    // The largest body the sync service takes or sends: every sync carries a
    // whole store, so a reply may be as large once it is unpacked.
    static constexpr qint64 maxUnpackedBytes = qint64(512) << 20;
    // The largest body the sync service takes or sends: every sync carries a
    // whole store, so a reply may be as large once it is unpacked. Qt would
    // refuse a highly compressed one well before that.
    static constexpr qint64 maxDecompressedBytes = qint64(512) << 20;

    using Completion = std::function<void(const HttpOutcome &)>;

    // The client of the calling thread, with the default time-out.
    static HttpClient &shared();

    explicit HttpClient(std::chrono::milliseconds timeout = defaultTimeout);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // POST of `json` with Content-Type "application/json", and with
    // "Authorization: Bearer <secret>" when a secret is given. The status must
    // be 200-299 and the body non-empty unless the status is 204 or 205; the
    // body of a refusal stays in the outcome.
    //
    // A gzip answer comes still packed (see HttpOutcome::gzipped): Qt would
    // unpack and gather tens of megabytes on this thread in one go.
    void postJson(const QUrl &url, const QByteArray &json, Completion completion,
                  const QString &bearerSecret = QString());

    // The outcome with its body unpacked; a body that does not unpack, or
    // unpacks beyond maxUnpackedBytes, makes it a transport failure. Safe on
    // any thread.
    static HttpOutcome unpacked(HttpOutcome outcome);

    // Plain GET. Any HTTP answer counts, whatever its status; only a transport
    // failure is an error.
    void get(const QUrl &url, Completion completion);
    QCoro::Task<HttpOutcome> get(const QUrl &url);

    std::chrono::milliseconds timeout() const { return m_timeout; }

private:
    static HttpOutcome readOutcome(QNetworkReply *reply, bool validate);
    static void watch(QNetworkReply *reply, bool validate, Completion completion);
    QNetworkRequest request(const QUrl &url) const;

    QNetworkAccessManager *m_manager;
    std::chrono::milliseconds m_timeout;
};
