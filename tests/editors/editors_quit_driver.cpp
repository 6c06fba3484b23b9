// Runs the whole application with an editor open and typed into, then quits
// it the way the command line names:
//   editors_quit_driver new-note|new-todo|detail|detail-todo menu|ctrl-q|quit|close|signal [note id]
// It prints "typed" once the text is in; with "signal" it then waits for the
// caller's SIGTERM or SIGINT. The store is the one under $HOME.
#include "TovikNoteApp.h"
#include "WindowDriver.h"

#include <QGuiApplication>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

namespace {

const QString typed = QStringLiteral(" typed before quitting");

QQuickWindow *appWindow()
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (auto *quick = qobject_cast<QQuickWindow *>(window))
            return quick;
    }
    return nullptr;
}

bool typeIntoEditor(TovikNoteApp &app, const WindowDriver &driver, const QString &editor, const QString &noteId)
{
    if (editor.startsWith(QLatin1String("new"))) {
        if (!driver.clickNamed(QStringLiteral("newNoteButton")))
            return false;
    } else {
        app.appState().setCurrentView(AppState::AppView::noteDetail(noteId));
    }
    if (editor.endsWith(QLatin1String("todo"))) {
        if (editor == QLatin1String("new-todo")) {
            if (!driver.clickNamed(QStringLiteral("todoType")))
                return false;
            QTest::keyClick(driver.window(), Qt::Key_G, Qt::ControlModifier);
        }
        QQuickItem *row = driver.only(QStringLiteral("itemEditor"));
        if (!driver.click(row))
            return false;
        QTest::keyClick(driver.window(), Qt::Key_End, Qt::ControlModifier);
    } else {
        QQuickItem *text = driver.only(QStringLiteral("contentEditor"));
        if (!text || !QTest::qWaitFor([text] { return text->hasActiveFocus(); }))
            return false;
    }
    driver.type(typed);
    return true;
}

void quitBy(TovikNoteApp &app, QQuickWindow *window, const QString &way)
{
    if (way == QLatin1String("menu")) {
        const QList<MainMenuEntry> &menus = app.mainMenu().entries();
        for (int row = 0; row < menus.size(); ++row) {
            for (int command = 0; command < menus.at(row).commands.size(); ++command) {
                if (menus.at(row).commands.at(command).title.startsWith(QLatin1String("Quit")))
                    app.mainMenu().trigger(row, command);
            }
        }
    } else if (way == QLatin1String("ctrl-q")) {
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    } else if (way == QLatin1String("quit")) {
        QCoreApplication::quit();
    } else if (way == QLatin1String("close")) {
        window->close();
    }
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3)
        return 2;
    const QString editor = arguments.at(1);
    const QString way = arguments.at(2);
    const QString noteId = arguments.value(3);

    TovikNoteApp app;
    QTimer::singleShot(0, &application, [&] {
        QQuickWindow *window = appWindow();
        if (!window || !QTest::qWaitForWindowExposed(window)) {
            QCoreApplication::exit(3);
            return;
        }
        const WindowDriver driver(window);
        if (!typeIntoEditor(app, driver, editor, noteId)) {
            QCoreApplication::exit(4);
            return;
        }
        std::puts("typed");
        std::fflush(stdout);
        quitBy(app, window, way);
    });
    return app.run();
}
