#include "TovikNoteApp.h"

#include "Console.h"
#include "DBManager.h"
#include "DamagedStore.h"
#include "HomePage.h"
#include "PrivateFiles.h"
#include "ProblemNotice.h"
#include "SignalQuit.h"
#include "SyncBases.h"

#include <SQLiteCpp/Database.h>
#include <sqlite3.h>

#include <QDesktopServices>
#include <QtConcurrent/QtConcurrentRun>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_ViewsPlugin)

namespace {
// How long the content waits for the first frame at most.
constexpr int kContentAtTheLatestMs = 500;
}

TovikNoteApp::TovikNoteApp(QObject *parent)
    : QObject(parent), m_appDelegate(&m_mainMenu)
{
    QList<MainMenuEntry> menus = MainMenuModel::standardMenus(QStringLiteral("TovikNote"), [this] { quit(); });
    MainMenuModel::addScreenCommands(menus);
    m_mainMenu.setEntries(std::move(menus));
    m_mainMenu.replaceCommands(QStringLiteral("Help"),
                               {{QStringLiteral("Tovik Help"), [this] { openHomePage(); }, QKeySequence(Qt::Key_F1)}});

    ProblemNotice &notice = ProblemNotice::shared();
    notice.dismiss();
    const QString path = DBManager::databasePath();
    // The file's check runs beside the start; only a first write waits for it.
    damagedStore::startCheck(path, [&notice](const QString &copy, const QString &failure) {
        notice.report(copy.isEmpty()
                              ? QStringLiteral("Your notes file is damaged, and no copy of it could be kept (%1): "
                                               "nothing more is written to it.")
                                        .arg(failure)
                              : QStringLiteral("Your notes file is damaged. A copy of it as it was is kept at %1 "
                                               "before anything more is written to it.")
                                        .arg(ProblemNotice::shownPath(copy)));
    });
    try {
        DBManager::shared().setupDatabase();
        const DBManager::Connection connection = DBManager::shared().db();
        if (connection && sqlite3_db_readonly(connection->getHandle(), "main") == 1)
            notice.report(QStringLiteral("Your notes file %1 is read-only: new notes and changes cannot be saved.")
                                  .arg(ProblemNotice::shownPath(path)));
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Failed to initialize database: ") + errorDescription(error));
        notice.report(ProblemNotice::Action::open, error);
    }
    // The sync's own table, kept apart from the notes' schema steps, which
    // older versions share. It is a write, so it waits for the file's check:
    // off this thread. A file that cannot take it now gets it at its first sync.
    (void)QtConcurrent::run([path] {
        try {
            SyncBases::createTable(path);
        } catch (const std::exception &) {
        }
    });
    // Files an earlier version or a looser umask left readable by others.
    privateFiles::tightenFolder(QFileInfo(path).path());
}

void TovikNoteApp::setUpApplicationIdentity()
{
    // The desktop entry's name ties the window to its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TOVIK_APP_ID));
    QGuiApplication::setWindowIcon(
            QIcon::fromTheme(QStringLiteral(TOVIK_APP_ID), QIcon(QStringLiteral(":/qt/qml/TovikNote/Views/logo.svg"))));
}

void TovikNoteApp::raiseWindow()
{
    QWindow *window = m_window;
    if (!window)
        return;
    window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->requestActivate();
}

TovikNoteApp::~TovikNoteApp() = default;

bool TovikNoteApp::showWindow(QQmlApplicationEngine &engine)
{
    // The platform style would follow a dark desktop; the basic one draws
    // from the light palette the delegate installs.
    // It can be chosen once per process, before the first window.
    if (QQuickStyle::name() != QLatin1String("Basic"))
        QQuickStyle::setStyle(QStringLiteral("Basic"));
    m_appDelegate.applicationDidFinishLaunching();

    // Qt 6.4 does not search the module's resource prefix by itself.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.setInitialProperties({
        {QStringLiteral("appState"), QVariant::fromValue(&m_appState)},
        {QStringLiteral("syncManager"), QVariant::fromValue(&m_syncManager)},
        {QStringLiteral("mainMenu"), QVariant::fromValue(&m_mainMenu)},
        {QStringLiteral("problemNotice"), QVariant::fromValue(&ProblemNotice::shared())},
    });
    m_appState.setNotesReadAhead(QtConcurrent::run(fetchNotesForGrid));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/TovikNote/App/Main.qml")));
    if (engine.rootObjects().isEmpty())
        return false;
    QObject *root = engine.rootObjects().constFirst();
    root->installEventFilter(this);
    m_window = qobject_cast<QWindow *>(root);
    m_appDelegate.setAppState(&m_appState);

    // The window is on screen as soon as a bare one would be; the controls
    // and the notes follow with the next frames. A window that is never
    // drawn (a hidden workspace, say) gets its content all the same.
    if (auto *window = qobject_cast<QQuickWindow *>(root)) {
        connect(window, &QQuickWindow::frameSwapped, this, [this, root] { showContent(root); },
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    }
    QTimer::singleShot(kContentAtTheLatestMs, this, [this, root = QPointer<QObject>(root)] {
        if (root)
            showContent(root);
    });
    return true;
}

void TovikNoteApp::showContent(QObject *window)
{
    if (m_contentShown)
        return;
    m_contentShown = true;
    QMetaObject::invokeMethod(window, "showContent");
    Q_EMIT contentShown();
}

int TovikNoteApp::run()
{
    QQmlApplicationEngine engine;
    if (!showWindow(engine))
        return 1;
    // A log-out ends the program through quit(), like every other way.
    SignalQuit signalQuit;
    return QGuiApplication::exec();
}

void TovikNoteApp::quit()
{
    m_quitting = true;
    // quit() closes the window first; the filter lets that close through.
    QCoreApplication::quit();
}

bool TovikNoteApp::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && !m_quitting) {
        event->ignore();
        // Not from inside the close event: quit() sends one of its own.
        QMetaObject::invokeMethod(this, &TovikNoteApp::quit, Qt::QueuedConnection);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QUrl TovikNoteApp::homePageUrl()
{
    return QUrl(QString::fromUtf8(tovikHomePageUrl), QUrl::StrictMode);
}

void TovikNoteApp::openHomePage()
{
    const QUrl url = homePageUrl();
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    QDesktopServices::openUrl(url);
}
