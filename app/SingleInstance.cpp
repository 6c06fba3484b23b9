#include "SingleInstance.h"

#include "PrivateFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <sys/un.h>

namespace {

const QByteArray kRaiseRequest = QByteArrayLiteral("raise\n");
const QByteArray kRaiseAnswer = QByteArrayLiteral("raised\n");
constexpr int kRetryMs = 100;
constexpr int kUnwrittenLockMs = 2000;

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder), m_lock(QDir(folder).filePath(QStringLiteral("instance.lock")))
{
    // Staleness is judged by whether the holder still runs, never by age: a
    // window left open for weeks keeps its lock.
    m_lock.setStaleLockTime(0);
    // Only the owner may connect: the socket's folder is owner-only and, for a
    // name in the shared temporary folder, the socket itself too.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            answer(socket);
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const
{
    return m_lock.fileName();
}

QString SingleInstance::serverName() const
{
    const QString beside = QDir(m_folder).filePath(QStringLiteral("instance.socket"));
    if (QFile::encodeName(beside).size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return beside;
    // A home folder too deep for a socket path: a name of the folder's own in
    // the temporary folder, still owner-only.
    const QByteArray digest = QCryptographicHash::hash(QFile::encodeName(QDir(m_folder).absolutePath()),
                                                       QCryptographicHash::Sha1)
                                      .toHex()
                                      .left(16);
    return QStringLiteral("toviknote-") + QString::fromLatin1(digest);
}

SingleInstance::Start SingleInstance::start(int patienceMs)
{
    if (privateFiles::createPrivateFolder(m_folder))
        return Start::unavailable;
    // The socket goes here: no one else may reach it, whatever made the folder.
    privateFiles::tightenFolder(m_folder);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (m_lock.tryLock(0)) {
            if (!listen())
                qWarning("SingleInstance: cannot listen on %s: %s", qPrintable(serverName()),
                         qPrintable(m_server.errorString()));
            return Start::first;
        }
        if (m_lock.error() != QLockFile::LockFailedError)
            return Start::unavailable;
        if (holderUnknown()) {
            m_lock.removeStaleLockFile();
            continue;
        }
        if (askRunningInstance(kRetryMs * 5))
            return Start::handedOver;
        // The holder may still be setting up its socket, or have just ended.
        if (waited.elapsed() > patienceMs)
            return Start::noAnswer;
        QThread::msleep(kRetryMs);
    }
}

bool SingleInstance::holderUnknown() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (m_lock.getLockInfo(&pid, &host, &application))
        return false;
    // A lock that names no process: what a crash between making the file and
    // writing it leaves. One just made by a starting process is given time
    // to be written.
    const QFileInfo lock(lockPath());
    return lock.exists() && lock.lastModified().msecsTo(QDateTime::currentDateTime()) > kUnwrittenLockMs;
}

bool SingleInstance::listen()
{
    // The lock is ours, so a socket left at the name belongs to a process
    // that is gone.
    QLocalServer::removeServer(serverName());
    return m_server.listen(serverName());
}

bool SingleInstance::askRunningInstance(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    return reply == kRaiseAnswer;
}

void SingleInstance::answer(QLocalSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        // Anything but the one request, or more of it than it holds, ends
        // the connection unanswered.
        const QByteArray request = socket->peek(kRaiseRequest.size() + 1);
        if (!kRaiseRequest.startsWith(request.left(kRaiseRequest.size())) || request.size() > kRaiseRequest.size()) {
            socket->abort();
            return;
        }
        if (request.size() < kRaiseRequest.size())
            return;
        socket->read(kRaiseRequest.size());
        Q_EMIT activationRequested();
        socket->write(kRaiseAnswer);
        socket->disconnectFromServer();
    });
}
