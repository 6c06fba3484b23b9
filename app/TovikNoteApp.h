#pragma once

#include "AppDelegate.h"
#include "AppState.h"
#include "MainMenuModel.h"
#include "SyncManager.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWindow>

class QQmlApplicationEngine;

// The application: owns the shared state, the sync object, the main menu and
// the delegate for as long as the process runs, and shows the one window.
class TovikNoteApp : public QObject {
    Q_OBJECT

public:
    // Opens the database once; a failure is printed and start-up goes on.
    explicit TovikNoteApp(QObject *parent = nullptr);
    ~TovikNoteApp() override;

    AppState &appState() { return m_appState; }
    SyncManager &syncManager() { return m_syncManager; }
    MainMenuModel &mainMenu() { return m_mainMenu; }
    AppDelegate &appDelegate() { return m_appDelegate; }

    // The launch steps and the window, loaded into `engine`; false if the
    // window could not be built. The window comes up empty: its content is
    // loaded once its first frame has been shown, while the notes are read
    // on a worker thread from the start.
    bool showWindow(QQmlApplicationEngine &engine);

    // Whether the window's content has been loaded.
    bool isContentShown() const { return m_contentShown; }

    // Shows the window and runs the event loop until the user quits.
    int run();

    // The window's icon and the desktop entry it belongs to, for the whole
    // process; once, before the window.
    static void setUpApplicationIdentity();

    // Brings the window to the front, out of a minimised state too: a second
    // launch of the program asks for this.
    void raiseWindow();

    static QUrl homePageUrl();
    void openHomePage();

    // Ends the application through QCoreApplication::quit(), the one way out
    // of the event loop, for the menu, its shortcut and the window's close.
    void quit();

Q_SIGNALS:
    void contentShown();

protected:
    // A close of the window that does not come from quit() (its close button,
    // the window manager) is turned into quit(), so the same steps end the
    // application however the user leaves it.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    AppState m_appState;
    SyncManager m_syncManager;
    MainMenuModel m_mainMenu;
    AppDelegate m_appDelegate;
    bool m_quitting = false;
    bool m_contentShown = false;
    QPointer<QWindow> m_window;

    void showContent(QObject *window);
};
