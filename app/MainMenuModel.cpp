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

QList<MainMenuEntry> MainMenuModel::standardMenus(const QString &applicationName)
{
    return {
        MainMenuEntry::menu(applicationName, {
            {QStringLiteral("Quit %1").arg(applicationName), [] { QCoreApplication::quit(); }},
        }),
        MainMenuEntry::menu(QStringLiteral("File"), {
            {QStringLiteral("Close"), [] {
                 if (QWindow *window = QGuiApplication::focusWindow())
                     window->close();
             }},
        }),
        MainMenuEntry::menu(QStringLiteral("Edit"), {
            {QStringLiteral("Undo"), sendStandardKey(QKeySequence::Undo)},
            {QStringLiteral("Redo"), sendStandardKey(QKeySequence::Redo)},
            {QStringLiteral("Cut"), sendStandardKey(QKeySequence::Cut)},
            {QStringLiteral("Copy"), sendStandardKey(QKeySequence::Copy)},
            {QStringLiteral("Paste"), sendStandardKey(QKeySequence::Paste)},
            {QStringLiteral("Select All"), sendStandardKey(QKeySequence::SelectAll)},
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
            Q_EMIT dataChanged(changed, changed, {CommandTitlesRole});
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
    if (command < 0 || command >= commands.size() || !commands.at(command).action)
        return;
    // Copy first: the action may change the menu it came from.
    const std::function<void()> action = commands.at(command).action;
    action();
}
