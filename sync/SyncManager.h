#pragma once

#include "Note.h"
#include "OneShot.h"
#include "ServerResult.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

class HttpClient;
struct HttpOutcome;

// The one object that talks to the sync service.
class SyncManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSyncing READ isSyncing WRITE setIsSyncing NOTIFY isSyncingChanged FINAL)
    Q_PROPERTY(QString syncMessage READ syncMessage NOTIFY syncMessageChanged FINAL)

public:
    // `serviceBase` is the sync service's base address (requests go to
    // <base>/api/sync); `echoUrl` answers the caller's public address.
    explicit SyncManager(const QUrl &serviceBase, const QUrl &echoUrl, QObject *parent = nullptr);
    // Every request goes through `http`, which must outlive this object.
    SyncManager(const QUrl &serviceBase, const QUrl &echoUrl, HttpClient &http, QObject *parent = nullptr);
    // The addresses the build was configured with.
    explicit SyncManager(QObject *parent = nullptr);
    ~SyncManager() override;

    bool isSyncing() const;
    void setIsSyncing(bool value);
    QString syncMessage() const;          // empty when absent
    std::optional<QString> syncMessageValue() const;
    void setSyncMessage(std::optional<QString> value);
    std::function<void()> onSyncCompleted;

    QUrl syncURL() const;
    QUrl echoUrl() const;

    QCoro::Task<ServerResult> syncNotes(QString email);
    QCoro::Task<ServerResult> configEmailAddress(QString email);

    // The steps of the two exchanges, public so that each can be driven alone.
    using Continuation = OneShot<ServerResult>;
    // Each note as the request body carried it, by identifier: applying the
    // reply leaves alone whatever the user changed after the body was built.
    using SentNotes = QHash<QString, Note>;

    // The nine-member note object of the request body.
    static nlohmann::ordered_json makeNoteDictionary(const Note &note);
    // The request body {"email" (lower-cased), "ip", "notes"}.
    static nlohmann::ordered_json makeRequestBody(const QString &email, const QString &ip,
                                                  nlohmann::ordered_json notes);

    // Posts the body, with the machine's secret when one is given, and returns
    // at once; the completion resumes `continuation` through
    // handleSyncResponse, or with "Self is nil" when this object is gone.
    void sendSyncRequest(const nlohmann::ordered_json &body, SentNotes sent, Continuation continuation,
                         const QString &secret = QString());
    void handleSyncResponse(const HttpOutcome &outcome, const SentNotes &sent, Continuation continuation);

    // The configuration exchange holds no reference to a SyncManager.
    static void sendConfigRequest(HttpClient &http, const QUrl &syncUrl, const nlohmann::ordered_json &body,
                                  Continuation continuation, const QString &secret = QString());
    static void handleConfigResponse(const HttpOutcome &outcome, Continuation continuation);

Q_SIGNALS:
    void isSyncingChanged();
    void syncMessageChanged();

private:
    QCoro::Task<ServerResult> exchangeNotes(QString email);
    QCoro::Task<ServerResult> exchangeConfiguration(QString email);

    HttpClient *m_http;
    QUrl m_syncUrl;
    QUrl m_echoUrl;
    bool m_isSyncing = false;
    std::optional<QString> m_syncMessage;
};
