#include "MainMenuModel.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWindow>

namespace {

// The edit commands act on whatever has the keyboard focus, as if the user
// had pressed the command's standard shortcut there.
std::function<void()> sendStandardKey(QKeySequence::StandardKey key)
{
    return [key] {
        QObject *target = QGuiApplication::focusObject();
        const QList<QKeySequence> bindings = QKeySequence::keyBindings(key);
        if (!target || bindings.isEmpty())
            return;
        const QKeyCombination combination = bindings.first()[0];
        QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
        QCoreApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
        QCoreApplication::sendEvent(target, &release);
    };
}

std::function<void()> onFocusWindow(void (QWindow::*change)())
{
    return [change] {
        if (QWindow *window = QGuiApplication::focusWindow())
            (window->*change)();
    };
}

} // namespace

MainMenuModel::MainMenuModel(QObject *parent) : QAbstractListModel(parent) {}

QList<MainMenuEntry> MainMenuModel::standardMenus(const QString &applicationName, std::function<void()> quit)
{
    // The usual desktop keys, spelled out rather than taken from the platform
    // theme, which on some desktops binds Redo to Ctrl+Y instead.
    const auto ctrl = [](Qt::Key key, Qt::KeyboardModifiers extra = {}) {
        return QKeySequence(QKeyCombination(Qt::ControlModifier | extra, key));
    };
    return {
        MainMenuEntry::menu(applicationName, {
            {QStringLiteral("Quit %1").arg(applicationName), std::move(quit), ctrl(Qt::Key_Q)},
        }),
        MainMenuEntry::menu(QStringLiteral("File"), {
            {QStringLiteral("Close"), [] {
                 if (QWindow *window = QGuiApplication::focusWindow())
                     window->close();
             }},
        }),
        MainMenuEntry::menu(QStringLiteral("Edit"), {
            {QStringLiteral("Undo"), sendStandardKey(QKeySequence::Undo), ctrl(Qt::Key_Z)},
            {QStringLiteral("Redo"), sendStandardKey(QKeySequence::Redo), ctrl(Qt::Key_Z, Qt::ShiftModifier)},
            {QStringLiteral("Cut"), sendStandardKey(QKeySequence::Cut), ctrl(Qt::Key_X)},
            {QStringLiteral("Copy"), sendStandardKey(QKeySequence::Copy), ctrl(Qt::Key_C)},
            {QStringLiteral("Paste"), sendStandardKey(QKeySequence::Paste), ctrl(Qt::Key_V)},
            {QStringLiteral("Select All"), sendStandardKey(QKeySequence::SelectAll), ctrl(Qt::Key_A)},
        }),
        MainMenuEntry::menu(QStringLiteral("View"), {
            {QStringLiteral("Enter Full Screen"), onFocusWindow(&QWindow::showFullScreen)},
        }),
        MainMenuEntry::menu(QStringLiteral("Window"), {
            {QStringLiteral("Minimize"), onFocusWindow(&QWindow::showMinimized)},
            {QStringLiteral("Zoom"), onFocusWindow(&QWindow::showMaximized)},
        }),
        MainMenuEntry::menu(QStringLiteral("Help"), {
            {QStringLiteral("%1 Help").arg(applicationName), {}},
        }),
    };
}

void MainMenuModel::addScreenCommands(QList<MainMenuEntry> &menus)
{
    const auto named = [](const QString &title, const QString &name, QKeySequence key,
                          QList<QKeySequence> otherKeys = {}) {
        return MenuCommand{title, {}, std::move(key), name, std::move(otherKeys)};
    };
    const auto ctrl = [](Qt::Key key) { return QKeySequence(QKeyCombination(Qt::ControlModifier, key)); };
    const MainMenuEntry note = MainMenuEntry::menu(QStringLiteral("Note"), {
        named(QStringLiteral("New Note"), QStringLiteral("newNote"), ctrl(Qt::Key_N)),
        named(QStringLiteral("Open Note"), QStringLiteral("openNote"), QKeySequence(Qt::Key_Return)),
        named(QStringLiteral("Turn Card Over"), QStringLiteral("turnCard"),
              QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)), {QKeySequence(Qt::Key_Menu)}),
        named(QStringLiteral("Delete Note"), QStringLiteral("deleteNote"), QKeySequence(Qt::Key_Delete)),
        named(QStringLiteral("Save"), QStringLiteral("save"), ctrl(Qt::Key_S)),
        named(QStringLiteral("Add Item"), QStringLiteral("addItem"), ctrl(Qt::Key_G)),
        named(QStringLiteral("Back to Notes"), QStringLiteral("backToNotes"), QKeySequence(Qt::Key_Escape),
              {ctrl(Qt::Key_W), QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key_Left))}),
    });
    menus.insert(menus.isEmpty() ? 0 : 1, note);
    for (MainMenuEntry &entry : menus) {
        if (entry.isMenuItem() && entry.title == QLatin1String("Edit"))
            entry.commands.append(named(QStringLiteral("Find"), QStringLiteral("find"), ctrl(Qt::Key_F)));
    }
}

int MainMenuModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant MainMenuModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const MainMenuEntry &entry = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return entry.title;
    case IsMenuItemRole:
        return entry.isMenuItem();
    case CommandTitlesRole: {
        QStringList titles;
        for (const MenuCommand &command : entry.commands)
            titles << command.title;
        return titles;
    }
    case CommandShortcutsRole: {
        QStringList shortcuts;
        for (const MenuCommand &command : entry.commands) {
            QStringList keys{command.shortcut.toString(QKeySequence::PortableText)};
            for (const QKeySequence &other : command.otherKeys)
                keys << other.toString(QKeySequence::PortableText);
            shortcuts << keys.join(QStringLiteral(", "));
        }
        return shortcuts;
    }
    case CommandNamesRole: {
        QStringList names;
        for (const MenuCommand &command : entry.commands)
            names << command.name;
        return names;
    }
    default:
        return {};
    }
}

QHash<int, QByteArray> MainMenuModel::roleNames() const
{
    return {
        {TitleRole, "menuTitle"},
        {IsMenuItemRole, "isMenuItem"},
        {CommandTitlesRole, "commandTitles"},
        {CommandShortcutsRole, "commandShortcuts"},
        {CommandNamesRole, "commandNames"},
    };
}

void MainMenuModel::setEntries(QList<MainMenuEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

void MainMenuModel::removeEntry(int row)
{
    if (row < 0 || row >= m_entries.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_entries.removeAt(row);
    endRemoveRows();
}

bool MainMenuModel::replaceCommands(const QString &title, QList<MenuCommand> commands)
{
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries[row].isMenuItem() && m_entries[row].title == title) {
            m_entries[row].commands = std::move(commands);
            const QModelIndex changed = index(row);
            Q_EMIT dataChanged(changed, changed, {CommandTitlesRole, CommandShortcutsRole, CommandNamesRole});
            return true;
        }
    }
    return false;
}

void MainMenuModel::trigger(int row, int command)
{
    if (row < 0 || row >= m_entries.size())
        return;
    const QList<MenuCommand> &commands = m_entries.at(row).commands;
    if (command < 0 || command >= commands.size())
        return;
    if (!commands.at(command).name.isEmpty()) {
        Q_EMIT commandRequested(commands.at(command).name);
        return;
    }
    if (!commands.at(command).action)
        return;
    // Copy first: the action may change the menu it came from.
    const std::function<void()> action = commands.at(command).action;
    action();
}
