#pragma once

#include "ServerResult.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// The one object that talks to the sync service.
class SyncManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSyncing READ isSyncing WRITE setIsSyncing NOTIFY isSyncingChanged FINAL)
    Q_PROPERTY(QString syncMessage READ syncMessage NOTIFY syncMessageChanged FINAL)

public:
    // `serviceBase` is the sync service's base address (requests go to
    // <base>/api/sync); `echoUrl` answers the caller's public address.
    explicit SyncManager(const QUrl &serviceBase, const QUrl &echoUrl, QObject *parent = nullptr);
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

Q_SIGNALS:
    void isSyncingChanged();
    void syncMessageChanged();

private:
    QUrl m_syncUrl;
    QUrl m_echoUrl;
    bool m_isSyncing = false;
    std::optional<QString> m_syncMessage;
};
