#pragma once

#include <QAbstractListModel>
#include <QCoreApplication>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <functional>

// One command of a menu, with the key sequence that runs it from anywhere
// in the window (empty for none).
//
// A command with a name belongs to the screens: the screen in front runs it
// and answers its keys itself, so that they work wherever the screen is
// shown; the menu only shows them, `otherKeys` too, and asks the screen when
// the command is chosen in it.
struct MenuCommand {
    QString title;
    std::function<void()> action;
    QKeySequence shortcut = {};
    QString name = {};
    QList<QKeySequence> otherKeys = {};
};

// One entry of the main menu. Most entries are menus; a separator is an entry
// that is not a menu item and carries no title of its own.
struct MainMenuEntry {
    enum class Kind { menuItem, separator };
    Kind kind = Kind::menuItem;
    QString title;
    QList<MenuCommand> commands;

    bool isMenuItem() const { return kind == Kind::menuItem; }
    static MainMenuEntry menu(const QString &title, QList<MenuCommand> commands)
    {
        return MainMenuEntry{Kind::menuItem, title, std::move(commands)};
    }
    static MainMenuEntry separator() { return MainMenuEntry{Kind::separator, QString(), {}}; }
};

// The application's main menu: a list of menus that the window's menu bar
// shows, one row per entry.
class MainMenuModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        TitleRole = Qt::UserRole + 1,
        IsMenuItemRole,
        CommandTitlesRole,
        // Per command, its shortcut in portable text ("" for none); a named
        // command's other keys follow, separated by ", ".
        CommandShortcutsRole,
        // Per command, its name ("" for a command of the menu's own).
        CommandNamesRole,
    };

    explicit MainMenuModel(QObject *parent = nullptr);

    // The standard menus of a desktop application: the application menu,
    // whose one command runs `quit`, "File", "Edit", "View", "Window" and
    // "Help".
    static QList<MainMenuEntry> standardMenus(const QString &applicationName,
                                              std::function<void()> quit = [] { QCoreApplication::quit(); });
    // Adds the screens' named commands with their keys: a "Note" menu after
    // the application menu, and "Find" at the end of "Edit".
    static void addScreenCommands(QList<MainMenuEntry> &menus);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<MainMenuEntry> &entries() const { return m_entries; }
    void setEntries(QList<MainMenuEntry> entries);
    void removeEntry(int row);
    // Replaces the commands of the first menu titled `title`; false if none.
    bool replaceCommands(const QString &title, QList<MenuCommand> commands);

    // Runs a command chosen in the menu bar, or asks the screen in front to
    // run a named one; out-of-range indices do nothing.
    Q_INVOKABLE void trigger(int row, int command);

Q_SIGNALS:
    void commandRequested(const QString &name);

private:
    QList<MainMenuEntry> m_entries;
};
