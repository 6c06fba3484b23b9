#pragma once

#include "AppState.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class MainMenuModel;

// Called once the application has finished launching: keeps the whole
// application light and trims the main menu.
class AppDelegate : public QObject {
    Q_OBJECT
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)

public:
    // `mainMenu` may be null: an application without a main menu.
    explicit AppDelegate(MainMenuModel *mainMenu, QObject *parent = nullptr);

    // The menus taken out of the main menu, compared by exact title.
    static const QStringList &removedMenuTitles();

    void applicationDidFinishLaunching();

    // Light colours for every window and control, whatever the desktop theme.
    static void forceLightAppearance();

    // Kept for the views that may want it; the delegate itself never reads it.
    AppState *appState() const { return m_appState; }
    void setAppState(AppState *state);

Q_SIGNALS:
    void appStateChanged();

private:
    void trimMainMenu();

    QPointer<MainMenuModel> m_mainMenu;
    QPointer<AppState> m_appState;
};
