// A second launch of the real program, on a real X display under a window
// manager (openbox, started by run-under-openbox.sh), brings the running
// window to the front and ends, and the edit left open in that window is
// stored when it quits.
#include "AppWindow.h"
#include "DBManager.h"
#include "SingleInstance.h"
#include "TovikNoteApp.h"
#include "WindowDriver.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

// The X window xdotool reports as active, 0 when none.
WId activeWindow()
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
    if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0)
        return 0;
    return WId(xdotool.readAllStandardOutput().trimmed().toULongLong());
}

} // namespace

class InstanceWindowManagerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void secondLaunchRaisesTheWindowAndKeepsTheEdit_data();
    void secondLaunchRaisesTheWindowAndKeepsTheEdit();
};

void InstanceWindowManagerTest::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display with a window manager: run through run-under-openbox.sh");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed");
}

void InstanceWindowManagerTest::secondLaunchRaisesTheWindowAndKeepsTheEdit_data()
{
    QTest::addColumn<bool>("minimised");
    QTest::newRow("window minimised") << true;
    QTest::newRow("window behind another") << false;
}

void InstanceWindowManagerTest::secondLaunchRaisesTheWindowAndKeepsTheEdit()
{
    QFETCH(bool, minimised);
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    // The program's own start-up, as main() does it.
    SingleInstance instance(home.path() + QStringLiteral("/.tovik"));
    QCOMPARE(instance.start(), SingleInstance::Start::first);
    TovikNoteApp::setUpApplicationIdentity();
    TovikNoteApp app;
    connect(&instance, &SingleInstance::activationRequested, &app, &TovikNoteApp::raiseWindow);
    QQmlApplicationEngine engine;
    QQuickWindow *window = showAppWindow(app, engine);
    QVERIFY(window);
    QVERIFY(!window->icon().isNull());

    // An edit left open in the window.
    WindowDriver driver(window);
    QVERIFY(driver.clickNamed(QStringLiteral("newNoteButton")));
    QQuickItem *editor = driver.only(QStringLiteral("contentEditor"));
    QVERIFY(editor);
    QVERIFY(QTest::qWaitFor([editor] { return editor->hasActiveFocus(); }));
    driver.type(QStringLiteral("left open"));
    const QString noteId = app.appState().currentNoteId();

    // The window out of sight.
    QWindow other;
    if (minimised) {
        window->showMinimized();
        QVERIFY(QTest::qWaitFor([window] { return !window->isExposed(); }));
    } else {
        other.resize(1500, 1100);
        other.show();
        other.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }
    QVERIFY(activeWindow() != window->winId());

    QProcess later;
    later.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    later.start(QStringLiteral(TOVIKNOTE_PROGRAM));
    QVERIFY(later.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 20'000));
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
    // It printed nothing of a store of its own.
    QCOMPARE(later.readAllStandardOutput(), QByteArray());

    QVERIFY(QTest::qWaitFor([&] { return window->isExposed() && activeWindow() == window->winId(); }, 10'000));
    QVERIFY(!(window->windowStates() & Qt::WindowMinimized));
    QCOMPARE(app.appState().currentViewKind(), AppState::NewNoteScreen);

    // Quitting stores what the editor holds.
    QTimer::singleShot(0, &app, &TovikNoteApp::quit);
    QGuiApplication::exec();
    QCOMPARE(DBManager::shared().fetchNote(noteId).content, QByteArray("left open"));
}

QTEST_MAIN(InstanceWindowManagerTest)
#include "tst_instance_wm.moc"
