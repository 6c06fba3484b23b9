// A Secret Service whose unlock prompt takes 30 s: the sync button's keyring
// read waits on it, and the window goes on drawing all the while. The service
// is slow-secret-service.py on the private session bus of dbus-run-session;
// the sync goes to a canned server on loopback.

#include "AppState.h"
#include "DBManager.h"
#include "EmailScramble.h"
#include "KeyringItem.h"
#include "MachineSecret.h"
#include "MainView.h"
#include "QuickTestSupport.h"
#include "SyncManager.h"
#include "support/CannedServer.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickView>
#include <QTest>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_ViewsPlugin)

namespace {

constexpr int promptSeconds = 30;

// The longest wait between two consecutive events, counted from the start of
// the clock, and how many there were.
struct Gaps {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    int count = 0;

    void tick()
    {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        ++count;
    }
};

} // namespace

class KeyringPromptGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowDrawsWhileTheKeyringPrompts();
};

void KeyringPromptGuiTest::windowDrawsWhileTheKeyringPrompts()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "run this test under dbus-run-session");
    TemporaryHome home;
    DBManager::shared().setupDatabase();
    CannedServer server;
    server.setSyncAnswer({200, R"({"status":601,"msg":"Up to date"})"});

    const QString address = QStringLiteral("ann@example.org");
    QProcess keyring;
    keyring.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    keyring.start(QStringLiteral(SLOW_SECRET_SERVICE),
                  {QString::number(promptSeconds), xorEncrypt(address, QString::fromLatin1(emailXorKey))});
    QVERIFY(keyring.waitForStarted());
    QByteArray said;
    connect(&keyring, &QProcess::readyReadStandardOutput, this,
            [&] { said += keyring.readAllStandardOutput(); });
    QTRY_VERIFY_WITH_TIMEOUT(said.contains("ready"), 10000);

    AppState state;
    SyncManager sync(QUrl(QString::fromStdString(server.baseUrl())), QUrl(QString::fromStdString(server.echoUrl())));
    QQuickView view;
    const QString failure = showMainScreen(view, &state, &sync);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Something on screen moves all the time, so the window owes a frame at
    // every vsync; a timer on the GUI thread shows any stall of the thread
    // itself.
    QQmlComponent spinner(view.engine());
    spinner.setData("import QtQuick\n"
                    "Rectangle { width: 20; height: 20; color: \"red\"\n"
                    "  RotationAnimation on rotation { from: 0; to: 360; duration: 1000; loops: Animation.Infinite }"
                    " }",
                    QUrl());
    std::unique_ptr<QObject> moving(spinner.create());
    QVERIFY2(moving, qPrintable(spinner.errorString()));
    qobject_cast<QQuickItem *>(moving.get())->setParentItem(view.contentItem());
    Gaps frames;
    Gaps timer;
    connect(&view, &QQuickWindow::frameSwapped, this, [&frames] { frames.tick(); });
    QTimer drawing;
    drawing.setTimerType(Qt::PreciseTimer);
    connect(&drawing, &QTimer::timeout, this, [&timer] { timer.tick(); });

    QQuickItem *button = itemsNamed(view.contentItem(), "syncButton").value(0);
    QVERIFY(button);
    QElapsedTimer waited;
    waited.start();
    frames.clock.start();
    timer.clock.start();
    drawing.start(16);
    QTest::mouseClick(&view, Qt::LeftButton, {}, centreOf(button));

    QTRY_VERIFY_WITH_TIMEOUT(said.contains("prompt"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!server.receivedOn("/api/sync").empty(), (promptSeconds + 30) * 1000);
    drawing.stop();
    frames.tick();
    timer.tick();
    const qint64 elapsed = waited.elapsed();
    qInfo("prompt held the keyring for %lld ms; %d frames, longest frame gap %lld ms, longest timer gap %lld ms",
          elapsed, frames.count, frames.longest, timer.longest);

    // The sync waited for the prompt, then went on with what the keyring held.
    QVERIFY2(elapsed >= (promptSeconds - 1) * 1000, qPrintable(QString::number(elapsed)));
    const CannedServer::Received request = server.receivedOn("/api/sync").front();
    QVERIFY(request.body.find("\"email\":\"ann@example.org\"") != std::string::npos);
    const std::optional<QString> secret = machineSecretFor(address);
    QVERIFY(secret);
    QCOMPARE(QString::fromStdString(request.authorization), QStringLiteral("Bearer ") + *secret);
    // The secret went to the Secret Service, not to the file.
    QVERIFY(!QFileInfo::exists(KeyringItem::fallbackPath(KeyringItem::machineSecretItem)));

    // Drawn throughout: a stalled GUI thread would leave a gap of the whole prompt.
    QVERIFY2(timer.longest < 1000, qPrintable(QString::number(timer.longest)));
    QVERIFY2(frames.longest < 1000, qPrintable(QString::number(frames.longest)));
    QVERIFY2(frames.count >= promptSeconds * 10, qPrintable(QString::number(frames.count)));

    keyring.kill();
    keyring.waitForFinished();
}

QTEST_MAIN(KeyringPromptGuiTest)
#include "tst_keyring_prompt_gui.moc"
