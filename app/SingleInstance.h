#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One running app per notes folder: two processes writing one database would
// overwrite each other's saved edits. The first launch holds a lock file in
// the folder and listens on a local socket beside it; a later launch finds
// the lock held, asks the running one through the socket to come to the
// front, and ends.
//
// The lock names the process holding it; a lock left by a process that is no
// longer running (a crash, a power cut) is taken over, so it never blocks a
// start.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        first,         // this process runs the app; later launches are announced
        handedOver,    // a running app took over; this process should end
        noAnswer,      // another process holds the folder but did not answer
        unavailable,   // no lock could be made (the folder cannot be created)
    };

    // `folder` is the app's own folder, "~/.tovik".
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Claims the folder, or hands over to the process that holds it. A
    // holder that is still starting is given up to `patienceMs` to answer.
    Start start(int patienceMs = 10'000);

    QString lockPath() const;
    QString serverName() const;

Q_SIGNALS:
    // A later launch asked this one to come to the front.
    void activationRequested();

private:
    bool holderUnknown() const;
    bool listen();
    bool askRunningInstance(int timeoutMs);
    void answer(class QLocalSocket *socket);

    QString m_folder;
    QLockFile m_lock;
    QLocalServer m_server;
};
