#include "SyncManager.h"

#include "Console.h"
#include "DBError.h"
#include "DBManager.h"
#include "DeviceIP.h"
#include "HttpClient.h"
#include "KeyringThread.h"
#include "ServiceAddresses.h"
#include "Utf8.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <SQLiteCpp/Exception.h>

#include <limits>
#include <stdexcept>

using nlohmann::ordered_json;

namespace {

// A member of a server note that is missing or not of its JSON type.
class NoteFieldError : public std::runtime_error {
public:
    explicit NoteFieldError(const char *member)
        : std::runtime_error(std::string("Missing or invalid field: ") + member)
    {
    }
};

// The store's, the SQLite layer's and the JSON parser's errors keep their own
// identity.
ServerError errorFrom(const std::exception &error)
{
    if (const auto *db = dynamic_cast<const DBError *>(&error))
        return ServerError{QStringLiteral("DBError"), int(db->code()), errorDescription(error)};
    if (const auto *sqlite = dynamic_cast<const SQLite::Exception *>(&error))
        return ServerError{QStringLiteral("SQLite"), sqlite->getErrorCode(), errorDescription(error)};
    if (const auto *json = dynamic_cast<const ordered_json::exception *>(&error))
        return ServerError{QStringLiteral("nlohmann::json"), json->id, errorDescription(error)};
    return ServerError::own(errorDescription(error));
}

// For a catch-all handler: the error being handled.
ServerError currentError()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return errorFrom(error);
    } catch (...) {
        return ServerError::own(QStringLiteral("Unknown error"));
    }
}

ServerResult failure(const QString &description)
{
    return ServerResult::failure(ServerError::own(description));
}

ordered_json parseReply(const QByteArray &body)
{
    return ordered_json::parse(body.cbegin(), body.cend());
}

QString toQString(const ordered_json &text)
{
    return QString::fromStdString(text.get_ref<const std::string &>());
}

QString stringMember(const ordered_json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw NoteFieldError(key);
    return toQString(*it);
}

// Integers only: a float, a bool or a string of digits is the wrong type, and
// so is an integer beyond the signed 64-bit range.
std::optional<int64_t> asInt64(const ordered_json &value)
{
    if (value.is_number_unsigned()) {
        const auto raw = value.get<uint64_t>();
        if (raw > uint64_t(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return int64_t(raw);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    return std::nullopt;
}

int64_t integerMember(const ordered_json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end())
        throw NoteFieldError(key);
    const auto value = asInt64(*it);
    if (!value)
        throw NoteFieldError(key);
    return *value;
}

Note noteFromServer(const ordered_json &object)
{
    Note note;
    note.id = stringMember(object, "noteid");
    note.content = stringMember(object, "content").toUtf8();
    note.type = integerMember(object, "type");
    note.isdeleted = integerMember(object, "isdeleted") == 1;
    note.createdDate = integerMember(object, "createdtime");
    note.lastModifiedDate = integerMember(object, "lastmodifiedtime");
    note.title = stringMember(object, "title");
    note.isfavorite = integerMember(object, "isfavorite");
    note.filelink = stringMember(object, "filelink");
    return note;
}

// A refusal that came with a JSON "msg" (a rate limit, a busy service) keeps
// that message for the user beside the client's error.
ServerError refusalError(const HttpOutcome &outcome)
{
    ServerError error = *outcome.error;
    try {
        const ordered_json reply = parseReply(outcome.body);
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
    QFuture<PreparedBody> preparing = QtConcurrent::run([email, address]() {
        PreparedBody result;
        try {
            const QList<Note> notes = DBManager::shared().fetchNotesForSync();
            ordered_json objects = ordered_json::array();
            for (const Note &note : notes) {
                objects.push_back(makeNoteDictionary(note));
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
        co_return failure(QStringLiteral("Machine secret not stored"));
    }
    if (!self)
        co_return failure(QStringLiteral("Self is nil"));

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
                                 continuation.resume(failure(QStringLiteral("Self is nil")));
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

    ordered_json reply;
    try {
        reply = parseReply(outcome.body);
    } catch (const std::exception &error) {
        // Every parser error counts: a syntax error, a number beyond any
        // double (out_of_range), bytes that are not UTF-8, a cut-off text.
        const ServerError parsed = errorFrom(error);
        printLine(QStringLiteral("JSON parsing error: ") + parsed.description);
        continuation.resume(ServerResult::failure(parsed));
        return;
    }

    // Both members are required whatever the status says.
    const bool wellFormed = reply.is_object() && reply.contains("status") && reply.at("status").is_number_integer()
        && reply.contains("msg") && reply.at("msg").is_string();
    if (!wellFormed) {
        printLine(QStringLiteral("Invalid JSON structure"));
        continuation.resume(failure(QStringLiteral("Invalid JSON structure")));
        return;
    }
    const ordered_json &status = reply.at("status");
    const QString message = toQString(reply.at("msg"));

    if (status == 602) {
        const auto notesIt = reply.find("notes");
        const bool usable = notesIt != reply.end() && notesIt->is_array()
            && std::all_of(notesIt->begin(), notesIt->end(), [](const ordered_json &n) { return n.is_object(); });
        if (!usable) {
            printLine(QStringLiteral("Error: Status 602 but no notes found in response"));
            continuation.resume(failure(QStringLiteral("Status 602 but no notes found")));
            return;
        }
        try {
            updateLocalDatabase(*notesIt, sent);
        } catch (...) {
            const ServerError error = currentError();
            printLine(QStringLiteral("Error updating local database: ") + error.description);
            continuation.resume(ServerResult::failure(error));
            return;
        }
        continuation.resume(ServerResult::success(message));
        return;
    }
    if (status == 601) {
        continuation.resume(ServerResult::success(message));
        return;
    }
    // dump() writes an integer in decimal, also one beyond the 64-bit signed range.
    const QString text = QStringLiteral("Unexpected status code: ") + QString::fromStdString(status.dump());
    printLine(text);
    continuation.resume(failure(text));
}

void SyncManager::updateLocalDatabase(const ordered_json &serverNotes, const SentNotes &sent)
{
    DBManager &store = DBManager::shared();
    QSet<QString> purged;
    try {
        const QStringList removed = store.deleteSentDeletedNotes(sent.values());
        purged = QSet<QString>(removed.begin(), removed.end());
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error while deleting locally deleted notes: ") + errorDescription(error));
    }
    for (const ordered_json &object : serverNotes) {
        const Note note = noteFromServer(object);
        // A row this purge just removed was unchanged: the server's copy takes
        // its place as it would over any absent row.
        std::optional<Note> sentCopy;
        const auto it = sent.constFind(note.id);
        if (it != sent.cend() && !purged.contains(note.id))
            sentCopy = *it;
        store.upsertNoteIfUnchanged(note, sentCopy);
    }
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
                continuation.resume(failure(QStringLiteral("Invalid server response")));
            }
        },
        secret);
}

void SyncManager::handleConfigResponse(const HttpOutcome &outcome, Continuation continuation)
{
    if (outcome.failed()) {
        continuation.resume(ServerResult::failure(refusalError(outcome)));
        return;
    }
    ordered_json reply;
    try {
        reply = parseReply(outcome.body);
    } catch (const std::exception &) {
        continuation.resume(failure(QStringLiteral("Invalid server response")));
        return;
    }
    if (reply.is_object()) {
        const auto msgIt = reply.find("msg");
        if (msgIt != reply.end() && msgIt->is_string()) {
            continuation.resume(ServerResult::success(toQString(*msgIt)));
            return;
        }
    }
    continuation.resume(failure(QStringLiteral("Invalid server response")));
}
