// The application's window on a real X display under a real window manager
// (openbox, started by run-under-openbox.sh), driven with the X server's own
// input through xdotool: what a user does with the mouse and keyboard.

#include "AppWindow.h"
#include "TovikNoteApp.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <functional>
#include <memory>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

bool closeTo(const QSize &size, const QSize &expected)
{
    return qAbs(size.width() - expected.width()) <= 2 && qAbs(size.height() - expected.height()) <= 2;
}

// Counts the presses that reach a window.
class PressCounter : public QObject {
public:
    explicit PressCounter(QObject *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            ++count;
        return false;
    }
};

} // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void growsFromACornerDrag();
    void minimumSizeHolds();
    void headerDoubleClickMaximisesAndRestores_data();
    void headerDoubleClickMaximisesAndRestores();
    void buttonsMaximiseRestoreAndMinimise();
    void quitsThroughTheApplication_data();
    void quitsThroughTheApplication();

private:
    // Runs xdotool with `arguments`; false if it failed.
    bool xdotool(const QStringList &arguments) const;
    bool pointerTo(QPoint windowPosition) const;
    // Presses the bottom-right corner, moves the pointer by `offset` and lets
    // go; true once the window has taken `expected`.
    bool dragCorner(QPoint offset, QSize expected);
    QPoint centreOf(const char *name) const;

    std::unique_ptr<ShownApp> m_shown;
    QQuickWindow *m_window = nullptr;
};

void WindowManagerTest::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display with a window manager: run through run-under-openbox.sh");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed");
    // Only an explicit quit may end the event loop here, so a close that
    // merely hid the window cannot pass for one.
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void WindowManagerTest::init()
{
    m_shown = std::make_unique<ShownApp>();
    m_window = m_shown->window;
    QVERIFY(m_window);
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window, 20000));
    QCOMPARE(m_window->size(), QSize(1100, 800));
}

void WindowManagerTest::cleanup()
{
    xdotool({"mouseup", "1"});
    m_shown.reset();
    m_window = nullptr;
}

bool WindowManagerTest::xdotool(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

bool WindowManagerTest::pointerTo(QPoint windowPosition) const
{
    return xdotool({"mousemove", "--window", QString::number(m_window->winId()),
                    QString::number(windowPosition.x()), QString::number(windowPosition.y())});
}

QPoint WindowManagerTest::centreOf(const char *name) const
{
    QQuickItem *item = findItemNamed(m_window->contentItem(), QString::fromLatin1(name));
    if (!item)
        return {};
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

bool WindowManagerTest::dragCorner(QPoint offset, QSize expected)
{
    const QPoint start(m_window->width() - 4, m_window->height() - 4);
    const QPoint end = start + offset;
    PressCounter presses(m_window);
    if (!pointerTo(start) || !xdotool({"mousedown", "1"}))
        return false;
    // The window manager measures the drag from where the pointer is when
    // the application hands it over, so nothing moves before the press has
    // arrived; and it follows the pointer only once its own request has
    // reached it, so the pointer goes on moving, one point to and fro about
    // the end, until the window follows.
    if (!QTest::qWaitFor([&] { return presses.count > 0; }, 20000))
        return false;
    bool followed = false;
    for (int attempt = 0; attempt < 80 && !followed; ++attempt) {
        if (!pointerTo(end + QPoint(attempt % 2, attempt % 2)))
            return false;
        followed = QTest::qWaitFor([&] { return closeTo(m_window->size(), expected); }, 250);
    }
    if (!pointerTo(end) || !xdotool({"mouseup", "1"}))
        return false;
    return followed && QTest::qWaitFor([&] { return closeTo(m_window->size(), expected); }, 10000);
}

void WindowManagerTest::growsFromACornerDrag()
{
    const QSize before = m_window->size();
    QVERIFY(dragCorner(QPoint(150, 100), before + QSize(150, 100)));
    QVERIFY2(closeTo(m_window->size(), QSize(1250, 900)),
             qPrintable(QStringLiteral("%1x%2").arg(m_window->width()).arg(m_window->height())));
}

void WindowManagerTest::minimumSizeHolds()
{
    // Dragged far inside: the window manager stops at the minimum.
    QVERIFY(dragCorner(QPoint(-500, -400), QSize(900, 720)));
    QCOMPARE(m_window->size(), QSize(900, 720));
}

void WindowManagerTest::headerDoubleClickMaximisesAndRestores_data()
{
    QTest::addColumn<QString>("strip");
    QTest::newRow("window's top strip") << QStringLiteral("titleStrip");
    QTest::newRow("note grid's header") << QStringLiteral("header");
}

void WindowManagerTest::headerDoubleClickMaximisesAndRestores()
{
    QFETCH(QString, strip);
    const QRect before = m_window->geometry();
    // Half-way across, where neither menus nor controls take the pointer.
    const auto doubleClick = [&] {
        const QPoint at(m_window->width() / 2, centreOf(strip.toLatin1()).y());
        return at.y() > 0 && pointerTo(at) && xdotool({"click", "--repeat", "2", "--delay", "80", "1"});
    };
    QVERIFY(doubleClick());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->visibility(), QWindow::Maximized, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->width() > before.width(), 10000);

    QVERIFY(doubleClick());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->visibility(), QWindow::Windowed, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->size(), before.size(), 10000);
}

void WindowManagerTest::buttonsMaximiseRestoreAndMinimise()
{
    const QSize before = m_window->size();
    const auto click = [&](const char *button) { return pointerTo(centreOf(button)) && xdotool({"click", "1"}); };
    QVERIFY(click("maximizeButton"));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->visibility(), QWindow::Maximized, 10000);
    QVERIFY(click("maximizeButton"));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->visibility(), QWindow::Windowed, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->size(), before, 10000);
    QVERIFY(click("minimizeButton"));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->visibility(), QWindow::Minimized, 10000);
}

void WindowManagerTest::quitsThroughTheApplication_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close button") << QStringLiteral("closeButton");
    QTest::newRow("Ctrl+Q") << QStringLiteral("ctrl+q");
    QTest::newRow("window manager closes the window") << QStringLiteral("alt+F4");
}

void WindowManagerTest::quitsThroughTheApplication()
{
    QFETCH(QString, how);
    QSignalSpy aboutToQuit(QCoreApplication::instance(), &QCoreApplication::aboutToQuit);
    bool acted = false;
    QTimer::singleShot(0, this, [&] {
        if (how == QLatin1String("closeButton"))
            acted = pointerTo(centreOf("closeButton")) && xdotool({"click", "1"});
        else
            acted = xdotool({"key", "--clearmodifiers", how});
    });
    // A generous limit; the loop ends far sooner when the quit works.
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, [] { QCoreApplication::exit(3); });
    limit.start(60000);
    const int result = QGuiApplication::exec();
    limit.stop();
    QVERIFY(acted);
    QCOMPARE(result, 0);
    QCOMPARE(aboutToQuit.count(), 1);
    QVERIFY(!m_window->isVisible());
}

QTEST_MAIN(WindowManagerTest)
#include "tst_window_wm.moc"
