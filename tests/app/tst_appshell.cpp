#include "AppDelegate.h"
#include "AppState.h"
#include "MainMenuModel.h"
#include "ScreenSwitcher.h"
#include "TovikNoteApp.h"

#include <QAbstractItemModelTester>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <iostream>
#include <sstream>

using AppView = AppState::AppView;
Q_DECLARE_METATYPE(AppState::AppView)

namespace {

QList<MainMenuEntry> menusTitled(const QStringList &titles)
{
    QList<MainMenuEntry> entries;
    for (const QString &title : titles)
        entries << (title == "|" ? MainMenuEntry::separator() : MainMenuEntry::menu(title, {}));
    return entries;
}

QStringList titlesOf(const MainMenuModel &model)
{
    QStringList titles;
    for (const MainMenuEntry &entry : model.entries())
        titles << (entry.isMenuItem() ? entry.title : QStringLiteral("|"));
    return titles;
}

} // namespace

class AppShellTest : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the browser.
    void openInBrowser(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    void initTestCase();
    void appViewEquality_data();
    void appViewEquality();
    void freshStateShowsTheGrid();
    void everyAssignmentIsAnnounced();
    void trimMainMenu_data();
    void trimMainMenu();
    void standardMenuTrimmedKeepsHelp();
    void lightPaletteWhateverTheDesktop();
    void delegateKeepsTheStateItIsGiven();
    void switcherStartsATransitionOnlyForAnotherScreen();
    void startupWithAnUnusableHomePrintsOneLine();
    void helpMenuOpensTheHomePage();

private:
    QTemporaryDir m_home;
    QList<QUrl> m_opened;
};

void AppShellTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toLocal8Bit());
}

void AppShellTest::appViewEquality_data()
{
    QTest::addColumn<AppView>("left");
    QTest::addColumn<AppView>("right");
    QTest::addColumn<bool>("equal");
    const QString x = "3f1e0c9b7a6d5e4f3a2b1c0d9e8f7a6b5c4d3e2f";
    const QString y = "0000000000000000000000000000000000000001";
    QTest::newRow("newNote X, newNote X") << AppView::newNote(x) << AppView::newNote(x) << true;
    QTest::newRow("newNote X, noteDetail X") << AppView::newNote(x) << AppView::noteDetail(x) << false;
    QTest::newRow("noteDetail X, newNote X") << AppView::noteDetail(x) << AppView::newNote(x) << false;
    QTest::newRow("newNote X, newNote Y") << AppView::newNote(x) << AppView::newNote(y) << false;
    QTest::newRow("noteDetail X, noteDetail X") << AppView::noteDetail(x) << AppView::noteDetail(x) << true;
    QTest::newRow("noteDetail X, noteDetail Y") << AppView::noteDetail(x) << AppView::noteDetail(y) << false;
    QTest::newRow("main, main") << AppView::main() << AppView::main() << true;
    QTest::newRow("main, newNote empty id") << AppView::main() << AppView::newNote(QString()) << false;
    QTest::newRow("noteDetail empty, main") << AppView::noteDetail(QString()) << AppView::main() << false;
    QTest::newRow("identifiers differ in case") << AppView::newNote("ABC") << AppView::newNote("abc") << false;
}

void AppShellTest::appViewEquality()
{
    QFETCH(AppView, left);
    QFETCH(AppView, right);
    QFETCH(bool, equal);
    QCOMPARE(left == right, equal);
    QCOMPARE(right == left, equal);
}

void AppShellTest::freshStateShowsTheGrid()
{
    AppState state;
    QVERIFY(state.notes().isEmpty());
    QVERIFY(state.currentView() == AppView::main());
    QCOMPARE(state.currentViewKind(), AppState::MainScreen);
}

void AppShellTest::everyAssignmentIsAnnounced()
{
    AppState state;
    QSignalSpy views(&state, &AppState::currentViewChanged);
    QSignalSpy notes(&state, &AppState::notesChanged);
    state.setCurrentView(AppView::main());
    state.showNoteDetail("abc");
    state.showNoteDetail("abc");
    QCOMPARE(views.count(), 3);
    QCOMPARE(state.currentViewKind(), AppState::NoteDetailScreen);
    QCOMPARE(state.currentNoteId(), "abc");
    state.setNotes({});
    state.setNotes({});
    QCOMPARE(notes.count(), 2);
}

void AppShellTest::trimMainMenu_data()
{
    QTest::addColumn<QStringList>("menus");
    QTest::addColumn<QStringList>("kept");
    // "|" stands for an entry that is not a menu item.
    QTest::newRow("standard titles")
        << QStringList{"TovikNote", "File", "Edit", "View", "Window", "Help"}
        << QStringList{"TovikNote", "Edit", "Help"};
    QTest::newRow("letter case and a trailing space stay")
        << QStringList{"file", "FILE", "View ", " Window", "Windows"}
        << QStringList{"file", "FILE", "View ", " Window", "Windows"};
    QTest::newRow("two View items both go")
        << QStringList{"View", "Edit", "View"} << QStringList{"Edit"};
    QTest::newRow("adjacent removals")
        << QStringList{"File", "View", "Window", "Help"} << QStringList{"Help"};
    QTest::newRow("entries that are not menu items are skipped")
        << QStringList{"|", "File", "|", "Help", "|"} << QStringList{"|", "|", "Help", "|"};
    QTest::newRow("nothing to remove, translated menu")
        << QStringList{"Datei", "Ansicht", "Fenster"} << QStringList{"Datei", "Ansicht", "Fenster"};
    QTest::newRow("empty menu") << QStringList{} << QStringList{};
}

void AppShellTest::trimMainMenu()
{
    QFETCH(QStringList, menus);
    QFETCH(QStringList, kept);
    MainMenuModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setEntries(menusTitled(menus));
    AppDelegate delegate(&model);
    delegate.applicationDidFinishLaunching();
    QCOMPARE(titlesOf(model), kept);
}

void AppShellTest::standardMenuTrimmedKeepsHelp()
{
    TovikNoteApp app;
    app.appDelegate().applicationDidFinishLaunching();
    QCOMPARE(titlesOf(app.mainMenu()), (QStringList{"TovikNote", "Note", "Edit", "Help"}));
    const QModelIndex help = app.mainMenu().index(3);
    QCOMPARE(app.mainMenu().data(help, MainMenuModel::CommandTitlesRole).toStringList(), QStringList{"Tovik Help"});
}

void AppShellTest::lightPaletteWhateverTheDesktop()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    dark.setColor(QPalette::Text, Qt::white);
    QGuiApplication::setPalette(dark);
    AppDelegate::forceLightAppearance();
    const QPalette now = QGuiApplication::palette();
    QVERIFY(now.color(QPalette::Window).lightness() > 200);
    QVERIFY(now.color(QPalette::Base).lightness() > 200);
    QVERIFY(now.color(QPalette::Text).lightness() < 60);
    QVERIFY(now.color(QPalette::WindowText).lightness() < 60);
    QVERIFY(now.color(QPalette::ButtonText).lightness() < 60);
}

void AppShellTest::delegateKeepsTheStateItIsGiven()
{
    AppDelegate delegate(nullptr);
    delegate.applicationDidFinishLaunching();    // no main menu: nothing to trim
    QCOMPARE(delegate.appState(), nullptr);
    AppState state;
    QSignalSpy changes(&delegate, &AppDelegate::appStateChanged);
    delegate.setAppState(&state);
    delegate.setAppState(&state);
    QCOMPARE(delegate.appState(), &state);
    QCOMPARE(changes.count(), 2);
}

void AppShellTest::switcherStartsATransitionOnlyForAnotherScreen()
{
    AppState state;
    ScreenSwitcher switcher;
    switcher.setAppState(&state);
    QCOMPARE(switcher.slotKinds().at(switcher.frontSlot()).toInt(), int(AppState::MainScreen));
    QCOMPARE(switcher.transitionCount(), 0);

    state.showMain();
    QCOMPARE(switcher.transitionCount(), 0);

    const int gridSlot = switcher.frontSlot();
    state.showNewNote("n1");
    QCOMPARE(switcher.transitionCount(), 1);
    QCOMPARE(switcher.frontSlot(), 1 - gridSlot);
    QCOMPARE(switcher.slotKinds().at(switcher.frontSlot()).toInt(), int(AppState::NewNoteScreen));
    QCOMPARE(switcher.slotNoteIds().at(switcher.frontSlot()), "n1");
    // The grid stays in the other slot while it fades out.
    QCOMPARE(switcher.slotKinds().at(gridSlot).toInt(), int(AppState::MainScreen));

    state.showNewNote("n1");
    QCOMPARE(switcher.transitionCount(), 1);
    state.showNoteDetail("n1");
    QCOMPARE(switcher.transitionCount(), 2);
    QCOMPARE(switcher.slotKinds().at(switcher.frontSlot()).toInt(), int(AppState::NoteDetailScreen));
}

void AppShellTest::startupWithAnUnusableHomePrintsOneLine()
{
    QTemporaryDir dir;
    // A file where the home folder should be: no database folder can be made.
    const QString home = dir.filePath("home-is-a-file");
    QFile file(home);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.toLocal8Bit());

    std::ostringstream captured;
    std::streambuf *saved = std::cout.rdbuf(captured.rdbuf());
    {
        TovikNoteApp app;
        QVERIFY(app.appState().currentView() == AppView::main());
    }
    std::cout.rdbuf(saved);
    qputenv("HOME", savedHome);

    const QString text = QString::fromStdString(captured.str());
    QVERIFY2(text.startsWith("Failed to initialize database: "), qPrintable(text));
    QCOMPARE(text.count('\n'), 1);
}

void AppShellTest::helpMenuOpensTheHomePage()
{
    QDesktopServices::setUrlHandler("https", this, "openInBrowser");
    TovikNoteApp app;
    app.appDelegate().applicationDidFinishLaunching();
    const QStringList titles = titlesOf(app.mainMenu());
    app.mainMenu().trigger(int(titles.indexOf("Help")), 0);
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first(), TovikNoteApp::homePageUrl());
    QCOMPARE(m_opened.first().scheme(), "https");
}

QTEST_MAIN(AppShellTest)
#include "tst_appshell.moc"
