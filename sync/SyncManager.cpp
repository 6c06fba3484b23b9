#include "SyncManager.h"

#include "Console.h"
#include "DBError.h"
#include "DBManager.h"
#include "DeviceIP.h"
#include "HttpClient.h"
#include "KeyringThread.h"
#include "ReplyApplier.h"
#include "ServiceAddresses.h"
#include "SyncBases.h"
#include "SyncErrors.h"
#include "Utf8.h"

#include <QCoro/QCoroFuture>
#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

using nlohmann::ordered_json;

namespace {

// A refusal that came with a JSON "msg" (a rate limit, a busy service) keeps
// that message for the user beside the client's error.
ServerError refusalError(const HttpOutcome &outcome)
{
    ServerError error = *outcome.error;
    // The service packs a refusal like any answer once it is long enough.
    HttpOutcome refusal = outcome;
    refusal.error.reset();
    refusal = HttpClient::unpacked(std::move(refusal));
    if (refusal.failed())
        return error;
    try {
        const ordered_json reply = parseReply(refusal.body);
        const auto msgIt = reply.is_object() ? reply.find("msg") : reply.end();
        if (msgIt != reply.end() && msgIt->is_string())
            error.serviceMessage = toQString(*msgIt);
    } catch (const std::exception &) {
        // Not JSON: the client's error is all there is to tell.
    }
    return error;
}

QUrl endpointUnder(const QUrl &base)
{
    QUrl url = base;
    QString path = base.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/api/sync"));
    return url;
}

// What the worker step of a sync hands back to the coroutine.
struct PreparedBody {
    std::optional<ordered_json> body;
    SyncManager::SentNotes sent;
    std::optional<ServerError> error;
};

// Runs a coroutine that may throw and turns whatever escapes into its failure,
// so that an awaiting caller always gets a result.
QCoro::Task<ServerResult> guarded(QCoro::Task<ServerResult> task)
{
    std::optional<ServerResult> result;
    try {
        ServerResult done = co_await task;
        result.emplace(std::move(done));
    } catch (...) {
        result.emplace(ServerResult::failure(currentError()));
    }
    co_return std::move(*result);
}

} // namespace

SyncManager::SyncManager(const QUrl &serviceBase, const QUrl &echoUrl, QObject *parent)
    : SyncManager(serviceBase, echoUrl, HttpClient::shared(), parent)
{
}

SyncManager::SyncManager(const QUrl &serviceBase, const QUrl &echoUrl, HttpClient &http, QObject *parent)
    : QObject(parent), m_http(&http), m_syncUrl(endpointUnder(serviceBase)), m_echoUrl(echoUrl)
{
}

SyncManager::SyncManager(QObject *parent)
    : SyncManager(QUrl(QString::fromUtf8(tovikSyncBaseUrl)), QUrl(QString::fromUtf8(tovikEchoUrl)), parent)
{
}

SyncManager::~SyncManager() = default;

bool SyncManager::isSyncing() const
{
    return m_isSyncing;
}

void SyncManager::setIsSyncing(bool value)
{
    if (m_isSyncing == value)
        return;
    m_isSyncing = value;
    Q_EMIT isSyncingChanged();
}

QString SyncManager::syncMessage() const
{
    return m_syncMessage.value_or(QString());
}

std::optional<QString> SyncManager::syncMessageValue() const
{
    return m_syncMessage;
}

void SyncManager::setSyncMessage(std::optional<QString> value)
{
    if (m_syncMessage == value)
        return;
    m_syncMessage = std::move(value);
    Q_EMIT syncMessageChanged();
}

QUrl SyncManager::syncURL() const
{
    return m_syncUrl;
}

QUrl SyncManager::echoUrl() const
{
    return m_echoUrl;
}

ordered_json SyncManager::makeNoteDictionary(const Note &note)
{
    ordered_json object = ordered_json::object();
    object["noteid"] = note.id.toStdString();
    object["content"] = strictUtf8(note.content).value_or(QString()).toStdString();
    object["type"] = note.type;
    object["isdeleted"] = note.isdeleted ? 1 : 0;
    object["createdtime"] = note.createdDate;
    object["lastmodifiedtime"] = note.lastModifiedDate;
    object["title"] = note.title.toStdString();
    object["isfavorite"] = note.isfavorite;
    object["filelink"] = note.filelink.toStdString();
    return object;
}

ordered_json SyncManager::makeRequestBody(const QString &email, const QString &ip, ordered_json notes)
{
    ordered_json body = ordered_json::object();
    body["email"] = email.toLower().toStdString();
    body["ip"] = ip.toStdString();
    body["notes"] = std::move(notes);
    return body;
}

QCoro::Task<ServerResult> SyncManager::syncNotes(QString email)
{
    return guarded(exchangeNotes(std::move(email)));
}

QCoro::Task<ServerResult> SyncManager::exchangeNotes(QString email)
{
    // The object may go while this coroutine waits; after a wait only `self`
    // is trusted.
    const QPointer<SyncManager> self(this);
    const DeviceIP deviceIP(m_echoUrl, *m_http);

    // Each awaited value gets a name of its own: GCC 12 mishandles temporaries
    // and lambdas inside a co_await expression.
    std::optional<QString> ip = co_await deviceIP.fetchPublicIP();
    const QString address = ip.value_or(QString());

    // The keyring may wait on its unlock prompt while the store is read.
    QFuture<std::optional<QString>> securing = machineSecretLater(email);
    QFuture<PreparedBody> preparing = QtConcurrent::run([email, address, path = DBManager::databasePath()]() {
        PreparedBody result;
        try {
            // The bases first: a reply applied meanwhile can then only make a
            // note newer than its base, which the service merges, never older.
            const QHash<QString, int64_t> bases = SyncBases::readAll(path);
            const QList<Note> notes = DBManager::shared().fetchNotesForSync();
            ordered_json objects = ordered_json::array();
            for (const Note &note : notes) {
                objects.push_back(makeNoteDictionary(note));
                if (const auto base = bases.constFind(note.id); base != bases.cend())
                    objects.back()["rev"] = *base;
                result.sent.insert(note.id, note);
            }
            result.body = makeRequestBody(email, address, std::move(objects));
        } catch (...) {
            result.error = currentError();
        }
        return result;
    });
    PreparedBody prepared = co_await preparing;
    std::optional<QString> secret = co_await securing;
    if (prepared.error)
        co_return ServerResult::failure(*prepared.error);
    if (!secret) {
        printLine(QStringLiteral("Error keeping the machine secret"));
        co_return ownFailure(QStringLiteral("Machine secret not stored"));
    }
    if (!self)
        co_return ownFailure(QStringLiteral("Self is nil"));

    Continuation continuation;
    self->sendSyncRequest(*prepared.body, std::move(prepared.sent), continuation, *secret);
    ServerResult result = co_await continuation;
    co_return result;
}

void SyncManager::sendSyncRequest(const ordered_json &body, SentNotes sent, Continuation continuation,
                                  const QString &secret)
{
    const QPointer<SyncManager> self(this);
    m_http->postJson(m_syncUrl, QByteArray::fromStdString(body.dump()),
                     [self, sent = std::move(sent), continuation](const HttpOutcome &outcome) {
                         // The handler's steps catch what they expect; whatever
                         // else escapes is still this sync's failure.
                         try {
                             if (!self) {
                                 continuation.resume(ownFailure(QStringLiteral("Self is nil")));
                                 return;
                             }
                             self->handleSyncResponse(outcome, sent, continuation);
                         } catch (...) {
                             continuation.resume(ServerResult::failure(currentError()));
                         }
                     },
                     secret);
}

void SyncManager::handleSyncResponse(const HttpOutcome &outcome, const SentNotes &sent, Continuation continuation)
{
    if (outcome.failed()) {
        printLine(QStringLiteral("Network request failed: ") + outcome.error->description);
        continuation.resume(ServerResult::failure(refusalError(outcome)));
        return;
    }

    // Parsing and storing a large reply takes seconds: a worker does it, and
    // the result comes back to this thread.
    auto *watcher = new QFutureWatcher<ServerResult>;
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, continuation] {
        watcher->deleteLater();
        continuation.resume(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([outcome, sent, path = DBManager::databasePath()] {
        const HttpOutcome plain = HttpClient::unpacked(outcome);
        if (plain.failed()) {
            printLine(QStringLiteral("Network request failed: ") + plain.error->description);
            return ServerResult::failure(*plain.error);
        }
        return ReplyApplier::handleReply(plain.body, sent, path);
    }));
}

QCoro::Task<ServerResult> SyncManager::configEmailAddress(QString email)
{
    return guarded(exchangeConfiguration(std::move(email)));
}

QCoro::Task<ServerResult> SyncManager::exchangeConfiguration(QString email)
{
    // Nothing of this object is read after the first wait.
    HttpClient &http = *m_http;
    const QUrl syncUrl = m_syncUrl;
    const DeviceIP deviceIP(m_echoUrl, http);

    // The request goes whatever the keyring did; without a kept secret it
    // carries none, and the service refuses it.
    QFuture<std::optional<QString>> saving = configureKeyringLater(email);
    std::optional<QString> secret = co_await saving;
    std::optional<QString> ip = co_await deviceIP.fetchPublicIP();
    const ordered_json body = makeRequestBody(email, ip.value_or(QString()), ordered_json::array());

    Continuation continuation;
    sendConfigRequest(http, syncUrl, body, continuation, secret.value_or(QString()));
    ServerResult result = co_await continuation;
    co_return result;
}

void SyncManager::sendConfigRequest(HttpClient &http, const QUrl &syncUrl, const ordered_json &body,
                                    Continuation continuation, const QString &secret)
{
    http.postJson(
        syncUrl, QByteArray::fromStdString(body.dump()),
        [continuation](const HttpOutcome &outcome) {
            try {
                handleConfigResponse(outcome, continuation);
            } catch (...) {
                continuation.resume(ownFailure(QStringLiteral("Invalid server response")));
            }
        },
        secret);
}

void SyncManager::handleConfigResponse(const HttpOutcome &packed, Continuation continuation)
{
    // A configuration answer is a line of text: unpacked here at no cost.
    const HttpOutcome outcome = HttpClient::unpacked(packed);
    if (outcome.failed()) {
        continuation.resume(ServerResult::failure(refusalError(outcome)));
        return;
    }
    ordered_json reply;
    try {
        reply = parseReply(outcome.body);
    } catch (const std::exception &) {
        continuation.resume(ownFailure(QStringLiteral("Invalid server response")));
        return;
    }
    if (reply.is_object()) {
        const auto msgIt = reply.find("msg");
        if (msgIt != reply.end() && msgIt->is_string()) {
            continuation.resume(ServerResult::success(toQString(*msgIt)));
            return;
        }
    }
    continuation.resume(ownFailure(QStringLiteral("Invalid server response")));
}
