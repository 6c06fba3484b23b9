#include "AppWindow.h"
#include "DBManager.h"
#include "TovikNoteApp.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

void collectItems(QQuickItem *root, const QString &name, QList<QQuickItem *> &found)
{
    if (root->objectName() == name)
        found << root;
    for (QQuickItem *child : root->childItems())
        collectItems(child, name, found);
}

QQuickItem *itemNamed(QQuickWindow *window, const QString &name)
{
    QList<QQuickItem *> found;
    collectItems(window->contentItem(), name, found);
    return found.value(0);
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
    void firstScreenIsTheGrid();
    void screensCrossFade();

private:
    QQuickItem *slotShowing(int kind) const;

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<TovikNoteApp> m_app;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
};

void WindowGuiTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("HOME", m_home->path().toLocal8Bit());
    m_app = std::make_unique<TovikNoteApp>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_window = showAppWindow(*m_app, *m_engine);
    QVERIFY(m_window);
}

void WindowGuiTest::cleanup()
{
    m_engine.reset();
    m_app.reset();
    m_home.reset();
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
    QCOMPARE(evaluate(menuBar, "Array.from({length: count}, (_, i) => menuAt(i).title).join('|')").toString(), "TovikNote|Edit|Help");
    QCOMPARE(evaluate(menuBar, "menuAt(2).count").toInt(), 1);
    QCOMPARE(evaluate(menuBar, "menuAt(2).itemAt(0).text").toString(), "Tovik Help");
}

void WindowGuiTest::firstScreenIsTheGrid()
{
    QQuickItem *grid = slotShowing(AppState::MainScreen);
    QVERIFY(grid);
    QCOMPARE(grid->opacity(), 1.0);
    QVERIFY(itemNamed(m_window, "noteGrid"));
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
