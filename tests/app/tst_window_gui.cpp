#include "AppWindow.h"
#include "DBManager.h"
#include "TovikNoteApp.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

QQuickItem *itemNamed(QQuickWindow *window, const QString &name)
{
    return findItemNamed(window->contentItem(), name);
}

QVariant evaluate(QObject *scope, const QString &expression)
{
    QQmlExpression expr(qmlContext(scope), scope, expression);
    return expr.evaluate();
}

} // namespace

// The whole window as the program shows it, offscreen, over a fresh store.
class WindowGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void windowIsFramelessWithAMinimumSize();
    void menuBarShowsTheTrimmedMenus();
    void menuItemsShowTheirShortcuts();
    void shortcutRunsItsCommandWithTheMenuClosed();
    void screenCommandsFollowTheScreenInFront();
    void windowButtonsSitTopLeft();
    void closingTheWindowIsLeftToQuit();
    void firstScreenIsTheGrid();
    void contentFollowsTheFirstFrame();
    void screensCrossFade();

private:
    QQuickItem *slotShowing(int kind) const;

    std::unique_ptr<ShownApp> m_shown;
    TovikNoteApp *m_app = nullptr;
    QQuickWindow *m_window = nullptr;
};

void WindowGuiTest::init()
{
    m_shown = std::make_unique<ShownApp>();
    m_app = m_shown->app.get();
    m_window = m_shown->window;
    QVERIFY(m_window);
}

void WindowGuiTest::cleanup()
{
    m_shown.reset();
}

QQuickItem *WindowGuiTest::slotShowing(int kind) const
{
    for (const char *name : {"screenSlot0", "screenSlot1"}) {
        QQuickItem *slot = itemNamed(m_window, name);
        if (slot && slot->property("front").toBool() && slot->property("kind").toInt() == kind)
            return slot;
    }
    return nullptr;
}

void WindowGuiTest::windowIsFramelessWithAMinimumSize()
{
    QVERIFY(m_window->flags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(m_window->minimumSize(), QSize(900, 720));
    QCOMPARE(m_window->maximumSize().width() > 900, true);
    QVERIFY(m_window->color().lightness() > 200);
    QCOMPARE(m_app->appDelegate().appState(), &m_app->appState());
}

void WindowGuiTest::menuBarShowsTheTrimmedMenus()
{
    QQuickItem *menuBar = itemNamed(m_window, "mainMenuBar");
    QVERIFY(menuBar);
    QCOMPARE(evaluate(menuBar, "Array.from({length: count}, (_, i) => menuAt(i).title).join('|')").toString(), "TovikNote|Note|Edit|Help");
    QCOMPARE(evaluate(menuBar, "menuAt(3).count").toInt(), 1);
    QCOMPARE(evaluate(menuBar, "menuAt(3).itemAt(0).text").toString(), "Tovik Help");
}

void WindowGuiTest::menuItemsShowTheirShortcuts()
{
    QQuickItem *menuBar = itemNamed(m_window, "mainMenuBar");
    QVERIFY(menuBar);
    const auto shown = [&](int menu) {
        return evaluate(menuBar, QStringLiteral("Array.from({length: menuAt(%1).count}, (_, i) => "
                                                "menuAt(%1).itemAt(i).text + '=' + menuAt(%1).itemAt(i).shortcutText)"
                                                ".join('|')").arg(menu)).toString();
    };
    QCOMPARE(shown(0), "Quit TovikNote=Ctrl+Q");
    // Every key the screens answer is shown, the other keys of a command too.
    QCOMPARE(shown(1), "New Note=Ctrl+N|Open Note=Return|Turn Card Over=Shift+F10, Menu|Delete Note=Del|"
                       "Save=Ctrl+S|Add Item=Ctrl+G|Back to Notes=Esc, Ctrl+W, Alt+Left");
    QCOMPARE(shown(2), "Undo=Ctrl+Z|Redo=Ctrl+Shift+Z|Cut=Ctrl+X|Copy=Ctrl+C|Paste=Ctrl+V|Select All=Ctrl+A|"
                       "Find=Ctrl+F");
    QCOMPARE(shown(3), "Tovik Help=F1");
}

void WindowGuiTest::shortcutRunsItsCommandWithTheMenuClosed()
{
    // The application menu's command stands in for quitting, which needs a
    // running event loop.
    int ran = 0;
    QVERIFY(m_app->mainMenu().replaceCommands(
        "TovikNote", {{"Quit TovikNote", [&] { ++ran; }, QKeySequence(Qt::CTRL | Qt::Key_Q)}}));
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTest::keyClick(m_window, Qt::Key_Q, Qt::ControlModifier);
    QTRY_COMPARE(ran, 1);

    // The edit keys still reach the text field that has the focus.
    QQuickItem *field = itemNamed(m_window, "searchField");
    QVERIFY(field);
    field->forceActiveFocus();
    for (char letter : QByteArrayLiteral("findme"))
        QTest::keyClick(m_window, letter);
    QTRY_COMPARE(field->property("text").toString(), "findme");
    QCOMPARE(field->property("selectedText").toString(), "");
    QTest::keyClick(m_window, Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(field->property("selectedText").toString(), "findme");
    QTest::keyClick(m_window, Qt::Key_X, Qt::ControlModifier);
    QTRY_COMPARE(field->property("text").toString(), "");
    QTest::keyClick(m_window, Qt::Key_Z, Qt::ControlModifier);
    QTRY_COMPARE(field->property("text").toString(), "findme");
    QTest::keyClick(m_window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(field->property("text").toString(), "");
}

void WindowGuiTest::screenCommandsFollowTheScreenInFront()
{
    QQuickItem *menuBar = itemNamed(m_window, "mainMenuBar");
    QVERIFY(menuBar);
    const auto enabledCommands = [&] {
        return evaluate(menuBar, "Array.from({length: menuAt(1).count}, (_, i) => menuAt(1).itemAt(i))"
                                 ".filter(item => item.enabled).map(item => item.text).join('|')").toString();
    };
    // An empty grid: only a new note; the editor's commands wait for it.
    QTRY_COMPARE(enabledCommands(), "New Note");
    m_app->mainMenu().trigger(1, 0);
    QTRY_VERIFY(slotShowing(AppState::NewNoteScreen));
    QTRY_COMPARE(enabledCommands(), "Back to Notes");
    // The menu's own key for the command stays with the screen: Escape
    // leaves once, through the editor.
    QTest::keyClick(m_window, Qt::Key_Escape);
    QTRY_VERIFY(slotShowing(AppState::MainScreen));
    QCOMPARE(m_app->appState().currentView(), AppState::AppView::main());
}

void WindowGuiTest::windowButtonsSitTopLeft()
{
    const QStringList names{"closeButton", "minimizeButton", "maximizeButton"};
    qreal previousX = -1;
    for (const QString &name : names) {
        QQuickItem *button = itemNamed(m_window, name);
        QVERIFY2(button, qPrintable(name));
        const QPointF at = button->mapToScene(QPointF(0, 0));
        QVERIFY2(at.x() > previousX && at.x() < 100 && at.y() < 40, qPrintable(name));
        QCOMPARE(button->width(), button->height());
        previousX = at.x();
    }
    // Every edge and corner resizes, with its own cursor.
    QQuickItem *corner = itemNamed(m_window, "resizeBottomRight");
    QVERIFY(corner);
    QCOMPARE(corner->mapToScene(QPointF(corner->width(), corner->height())).toPoint(),
             QPoint(m_window->width(), m_window->height()));
    QCOMPARE(corner->cursor().shape(), Qt::SizeFDiagCursor);
    QCOMPARE(itemNamed(m_window, "resizeTopRight")->cursor().shape(), Qt::SizeBDiagCursor);
    QCOMPARE(itemNamed(m_window, "resizeLeft")->cursor().shape(), Qt::SizeHorCursor);
    QCOMPARE(itemNamed(m_window, "resizeBottom")->cursor().shape(), Qt::SizeVerCursor);
}

void WindowGuiTest::closingTheWindowIsLeftToQuit()
{
    // Without a running event loop quit() ends nothing, so the close that the
    // window asked for is refused and the window stays.
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    // Once the quit that the refused close asked for has run, the window may
    // close.
    QCoreApplication::sendPostedEvents();
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
}

void WindowGuiTest::firstScreenIsTheGrid()
{
    QQuickItem *grid = slotShowing(AppState::MainScreen);
    QVERIFY(grid);
    QCOMPARE(grid->opacity(), 1.0);
    QVERIFY(itemNamed(m_window, "noteGrid"));
}

void WindowGuiTest::contentFollowsTheFirstFrame()
{
    m_shown.reset();
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    TovikNoteApp app;
    const QString stored = DBManager::shared().createNote();
    QQmlApplicationEngine engine;
    QVERIFY(app.showWindow(engine));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    QVERIFY(window);
    // The window comes up with nothing but its background...
    QVERIFY(!itemNamed(window, "screens"));
    QVERIFY(!app.isContentShown());
    QSignalSpy frames(window, &QQuickWindow::frameSwapped);
    qsizetype framesBeforeContent = -1;
    connect(&app, &TovikNoteApp::contentShown, &app, [&] { framesBeforeContent = frames.count(); });

    // ...and its content, with the notes read meanwhile, after its first frame.
    QTRY_VERIFY(app.isContentShown());
    QVERIFY(framesBeforeContent >= 1);
    QVERIFY(itemNamed(window, "noteGrid"));
    QTRY_COMPARE(app.appState().noteCount(), 1);
    QCOMPARE(app.appState().notes().constFirst().id, stored);
}

void WindowGuiTest::screensCrossFade()
{
    QQuickItem *grid = slotShowing(AppState::MainScreen);
    QVERIFY(grid);
    const QString noteId = DBManager::shared().createNote();

    m_app->appState().showNewNote(noteId);
    QQuickItem *editor = slotShowing(AppState::NewNoteScreen);
    QVERIFY(editor);
    QVERIFY(editor != grid);
    // Both screens are on the window while the fade runs...
    QVERIFY(grid->isVisible());
    QVERIFY(editor->opacity() < 1.0);
    // ...and only the editor once it is over.
    QTRY_VERIFY(!grid->isVisible());
    QTRY_COMPARE(editor->opacity(), 1.0);
    QCOMPARE(editor->property("item").value<QQuickItem *>()->property("noteId").toString(), noteId);

    // The same screen again starts nothing.
    QQuickItem *shownEditor = editor->property("item").value<QQuickItem *>();
    m_app->appState().showNewNote(noteId);
    QCOMPARE(slotShowing(AppState::NewNoteScreen), editor);
    QCOMPARE(editor->opacity(), 1.0);
    QVERIFY(!grid->isVisible());
    QCOMPARE(editor->property("item").value<QQuickItem *>(), shownEditor);

    m_app->appState().showMain();
    QQuickItem *gridAgain = slotShowing(AppState::MainScreen);
    QVERIFY(gridAgain);
    QVERIFY(editor->isVisible());
    QTRY_VERIFY(!editor->isVisible());
    QTRY_COMPARE(gridAgain->opacity(), 1.0);
}

QTEST_MAIN(WindowGuiTest)
#include "tst_window_gui.moc"
