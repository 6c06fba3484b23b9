#include "HttpClient.h"

#include "OneShot.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <zlib.h>

#include <algorithm>
#include <exception>

namespace {

ServerError validationError(int status, const QString &description)
{
    return ServerError{QString::fromLatin1(HttpClient::validationDomain), status, description};
}

ServerError transportError(QNetworkReply::NetworkError code, const QString &description)
{
    return ServerError{QString::fromLatin1(HttpClient::transportDomain), int(code), description};
}

// Qt turns an answer's 4xx or 5xx status into one of these errors. Such an
// answer arrived whole, and only its status decides; every other error means
// the exchange itself broke, whatever status had arrived by then.
bool isStatusError(QNetworkReply::NetworkError code, int status)
{
    if (status >= 200 && status <= 299)
        return false;
    const int value = int(code);
    return code == QNetworkReply::ProxyAuthenticationRequiredError
        || (value >= QNetworkReply::ContentAccessDenied && value <= QNetworkReply::UnknownContentError
            && code != QNetworkReply::ContentReSendError)
        || code == QNetworkReply::ProtocolInvalidOperationError
        || (value >= QNetworkReply::InternalServerError && value <= QNetworkReply::UnknownServerError);
}

} // namespace

HttpClient &HttpClient::shared()
{
    thread_local HttpClient client;
    return client;
}

HttpClient::HttpClient(std::chrono::milliseconds timeout) : m_manager(new QNetworkAccessManager), m_timeout(timeout)
{
}

HttpClient::~HttpClient()
{
    delete m_manager;
}

QNetworkRequest HttpClient::request(const QUrl &url) const
{
    QNetworkRequest request(url);
    // Counted from the last progress, so a slow answer that keeps coming is
    // not cut, while one that stops is.
    request.setTransferTimeout(int(m_timeout.count()));
    // For what Qt still unpacks itself: a reply may be highly compressed.
    request.setDecompressedSafetyCheckThreshold(maxUnpackedBytes);
    request.setDecompressedSafetyCheckThreshold(maxDecompressedBytes);
    return request;
}

HttpOutcome HttpClient::readOutcome(QNetworkReply *reply, bool validate)
{
    HttpOutcome outcome;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError code = reply->error();
    if (code == QNetworkReply::OperationCanceledError) {
        // Nothing here aborts a request: a cancelled one ran out of time.
        outcome.error = transportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
        return outcome;
    }
    if (!statusAttribute.isValid()) {
        outcome.error = transportError(code == QNetworkReply::NoError ? QNetworkReply::UnknownNetworkError : code,
                                       reply->errorString());
        return outcome;
    }
    outcome.status = statusAttribute.toInt();
    if (code != QNetworkReply::NoError && !isStatusError(code, outcome.status)) {
        outcome.error = transportError(code, reply->errorString());
        return outcome;
    }
    outcome.body = reply->readAll();
    outcome.gzipped = reply->rawHeader("Content-Encoding").trimmed().toLower() == "gzip";
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

void HttpClient::postJson(const QUrl &url, const QByteArray &json, Completion completion,
                          const QString &bearerSecret)
{
    QNetworkRequest post = request(url);
    post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    // Offered by us, so Qt leaves the answer packed.
    post.setRawHeader("Accept-Encoding", "gzip");
    if (!bearerSecret.isEmpty())
        post.setRawHeader(QByteArrayLiteral("Authorization"), "Bearer " + bearerSecret.toLatin1());
    watch(m_manager->post(post, json), true, std::move(completion));
}

namespace {

// A gzip body ends with its unpacked size modulo 4 GiB: room for that at the
// start spares the copies of growing the buffer tens of megabytes at a time.
// It is only a hint (a zlib body has none, a body may lie), capped by the most
// that deflate can pack into the body's size. The slack past it lets a parser
// that reads a little beyond the end use the buffer in place.
qint64 unpackedSizeHint(const QByteArray &packed)
{
    constexpr qint64 slack = 4096;
    const qint64 fallback = packed.size() * 4;
    if (packed.size() < 18 || uchar(packed[0]) != 0x1f || uchar(packed[1]) != 0x8b)
        return fallback;
    const auto *tail = reinterpret_cast<const uchar *>(packed.constData() + packed.size() - 4);
    const qint64 size = qint64(tail[0]) | qint64(tail[1]) << 8 | qint64(tail[2]) << 16 | qint64(tail[3]) << 24;
    return std::min(size, packed.size() * 1032) + slack;
}

} // namespace

HttpOutcome HttpClient::unpacked(HttpOutcome outcome)
{
    if (!outcome.gzipped || outcome.failed())
        return outcome;
    outcome.gzipped = false;
    const auto broken = [&outcome](const char *why) {
        outcome.body = QByteArray();
        outcome.error = transportError(QNetworkReply::ProtocolFailure,
                                       QStringLiteral("Decompression failed: ") + QString::fromUtf8(why));
        return outcome;
    };
    z_stream stream{};
    // 15 + 32: a zlib or gzip header, whichever it is.
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return broken("cannot start");
    QByteArray plain;
    plain.resize(std::min<qint64>(std::max<qint64>(unpackedSizeHint(outcome.body), 4096), maxUnpackedBytes));
    stream.next_in = reinterpret_cast<Bytef *>(outcome.body.data());
    stream.avail_in = uInt(outcome.body.size());
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (qint64(stream.total_out) == plain.size()) {
            if (plain.size() >= maxUnpackedBytes) {
                inflateEnd(&stream);
                return broken("the body unpacks beyond the size the service may send");
            }
            plain.resize(std::min<qint64>(plain.size() * 2, maxUnpackedBytes));
        }
        stream.next_out = reinterpret_cast<Bytef *>(plain.data() + stream.total_out);
        stream.avail_out = uInt(plain.size() - qint64(stream.total_out));
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            const std::string why = stream.msg ? stream.msg : "corrupt data";
            inflateEnd(&stream);
            return broken(why.c_str());
        }
        if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
            inflateEnd(&stream);
            return broken("the body ends before its data");
        }
    }
    plain.resize(qint64(stream.total_out));
    inflateEnd(&stream);
    outcome.body = std::move(plain);
    return outcome;
}

void HttpClient::get(const QUrl &url, Completion completion)
{
    watch(m_manager->get(request(url)), false, std::move(completion));
}

void HttpClient::watch(QNetworkReply *reply, bool validate, Completion completion)
{
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, validate, completion = std::move(completion)]() {
                         reply->deleteLater();
                         // This runs inside Qt's event loop, which no
                         // exception may reach.
                         HttpOutcome outcome;
                         try {
                             outcome = readOutcome(reply, validate);
                         } catch (const std::exception &error) {
                             outcome = HttpOutcome{ServerError::own(QString::fromUtf8(error.what())), 0, {}};
                         } catch (...) {
                             outcome = HttpOutcome{ServerError::own(QStringLiteral("Unknown error")), 0, {}};
                         }
                         try {
                             completion(outcome);
                         } catch (...) {
                             // Each completion turns its own failures into its
                             // operation's result; nothing is left to tell.
                         }
                     });
}

QCoro::Task<HttpOutcome> HttpClient::get(const QUrl &url)
{
    OneShot<HttpOutcome> done;
    get(url, [done](const HttpOutcome &outcome) { done.resume(outcome); });
    HttpOutcome outcome = co_await done;
    co_return outcome;
}
