#include "HttpClient.h"

#include "OneShot.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

ServerError validationError(int status, const QString &description)
{
    return ServerError{QString::fromLatin1(HttpClient::validationDomain), status, description};
}

} // namespace

HttpClient &HttpClient::shared()
{
    thread_local HttpClient client;
    return client;
}

HttpClient::HttpClient() : m_manager(new QNetworkAccessManager) {}

HttpClient::~HttpClient()
{
    delete m_manager;
}

HttpOutcome HttpClient::readOutcome(QNetworkReply *reply, bool validate)
{
    HttpOutcome outcome;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Qt reports 4xx and 5xx answers as errors too; an answer that carries a
    // status came through, and only its status decides.
    if (!statusAttribute.isValid()) {
        const auto code = reply->error() == QNetworkReply::NoError ? QNetworkReply::UnknownNetworkError
                                                                    : reply->error();
        outcome.error = ServerError{QString::fromLatin1(transportDomain), int(code), reply->errorString()};
        return outcome;
    }
    outcome.status = statusAttribute.toInt();
    outcome.body = reply->readAll();
    if (!validate)
        return outcome;

    if (outcome.status < 200 || outcome.status > 299) {
        outcome.error = validationError(
            outcome.status,
            QStringLiteral("Response status code was unacceptable: %1.").arg(outcome.status));
    } else if (outcome.body.isEmpty() && outcome.status != 204 && outcome.status != 205) {
        outcome.error = validationError(
            outcome.status,
            QStringLiteral("Response could not be serialized, input data was nil or zero length."));
    }
    return outcome;
}

void HttpClient::postJson(const QUrl &url, const QByteArray &json, Completion completion)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    watch(m_manager->post(request, json), true, std::move(completion));
}

void HttpClient::get(const QUrl &url, Completion completion)
{
    watch(m_manager->get(QNetworkRequest(url)), false, std::move(completion));
}

void HttpClient::watch(QNetworkReply *reply, bool validate, Completion completion)
{
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, validate, completion = std::move(completion)]() {
                         reply->deleteLater();
                         completion(readOutcome(reply, validate));
                     });
}

QCoro::Task<HttpOutcome> HttpClient::get(const QUrl &url)
{
    OneShot<HttpOutcome> done;
    get(url, [done](const HttpOutcome &outcome) { done.resume(outcome); });
    HttpOutcome outcome = co_await done;
    co_return outcome;
}
