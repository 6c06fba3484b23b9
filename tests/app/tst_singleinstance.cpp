// One app per notes folder: the lock and the hand-over between launches,
// with the real program as the later launch.
#include "SingleInstance.h"
#include "FileMode.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// A pid that no process has: one that has just ended.
qint64 endedPid()
{
    QProcess child;
    child.start(QStringLiteral("true"));
    child.waitForFinished();
    return child.processId() ? child.processId() : 999999;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void leftoverLocksDoNotBlockAStart_data();
    void leftoverLocksDoNotBlockAStart();
    void aLaterLaunchHandsOverAndEnds();
    void aHolderThatDoesNotAnswerKeepsTheLaunchOut();
    void strangersRequestsAreRefused_data();
    void strangersRequestsAreRefused();

private:
    QString folder() const { return m_home->path() + QStringLiteral("/.tovik"); }
    std::unique_ptr<QTemporaryDir> m_home;
};

void SingleInstanceTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void SingleInstanceTest::leftoverLocksDoNotBlockAStart_data()
{
    QTest::addColumn<QByteArray>("lockText");
    QTest::addColumn<bool>("socketLeft");
    QTest::newRow("no lock") << QByteArray() << false;
    // What a crash leaves: the lock of a process that is gone, and its socket.
    QTest::newRow("lock of an ended process")
            << QByteArray::number(endedPid()) + "\ntoviknote\n" + QSysInfo::machineHostName().toUtf8() + "\n" << true;
    QTest::newRow("lock that names no process") << QByteArray("") << true;
}

void SingleInstanceTest::leftoverLocksDoNotBlockAStart()
{
    QFETCH(QByteArray, lockText);
    QFETCH(bool, socketLeft);
    QVERIFY(QDir().mkpath(folder()));
    SingleInstance instance(folder());
    if (!lockText.isNull() || socketLeft) {
        QFile lock(instance.lockPath());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(lockText);
        lock.close();
        // Left long ago, not being written by a launch starting this moment.
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    if (socketLeft) {
        QFile socket(instance.serverName());
        QVERIFY(socket.open(QIODevice::WriteOnly));
    }
    QCOMPARE(instance.start(1000), SingleInstance::Start::first);
    // A later request reaches this one, through a socket only the owner can
    // reach.
    QCOMPARE(modeOf(folder()), mode_t(0700));
    QLocalSocket probe;
    probe.connectToServer(instance.serverName());
    QVERIFY(probe.waitForConnected(2000));
}

void SingleInstanceTest::aLaterLaunchHandsOverAndEnds()
{
    SingleInstance first(folder());
    QCOMPARE(first.start(), SingleInstance::Start::first);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    QProcess later;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home->path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    later.setProcessEnvironment(environment);
    later.setProcessChannelMode(QProcess::ForwardedChannels);
    later.start(QStringLiteral(TOVIKNOTE_PROGRAM));
    QVERIFY(later.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 20'000));
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
    QCOMPARE(raised.count(), 1);
    // The later launch never touched the notes file.
    QVERIFY(!QFile::exists(folder() + QStringLiteral("/tovik.db")));
}

void SingleInstanceTest::aHolderThatDoesNotAnswerKeepsTheLaunchOut()
{
    SingleInstance holder(folder());
    QCOMPARE(holder.start(), SingleInstance::Start::first);
    // Its event loop does not run while the later one asks, so it never answers.
    SingleInstance later(folder());
    QCOMPARE(later.start(300), SingleInstance::Start::noAnswer);
}

void SingleInstanceTest::strangersRequestsAreRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("another word") << QByteArray("quit\n");
    QTest::newRow("request with more after it") << QByteArray("raise\nraise\n");
    QTest::newRow("binary") << QByteArray("\x00\xff\x10", 3);
}

void SingleInstanceTest::strangersRequestsAreRefused()
{
    QFETCH(QByteArray, request);
    SingleInstance instance(folder());
    QCOMPARE(instance.start(), SingleInstance::Start::first);
    QSignalSpy raised(&instance, &SingleInstance::activationRequested);
    QLocalSocket socket;
    socket.connectToServer(instance.serverName());
    QVERIFY(socket.waitForConnected(2000));
    socket.write(request);
    QVERIFY(socket.waitForBytesWritten(2000));
    QVERIFY(QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 5000));
    QCOMPARE(socket.readAll(), QByteArray());
    QCOMPARE(raised.count(), 0);
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
