#include "AppDelegate.h"

#include "AppState.h"
#include "MainMenuModel.h"

#include <QGuiApplication>
#include <QPalette>

AppDelegate::AppDelegate(MainMenuModel *mainMenu, QObject *parent) : QObject(parent), m_mainMenu(mainMenu) {}

const QStringList &AppDelegate::removedMenuTitles()
{
    static const QStringList titles{QStringLiteral("File"), QStringLiteral("View"), QStringLiteral("Window")};
    return titles;
}

void AppDelegate::applicationDidFinishLaunching()
{
    forceLightAppearance();
    trimMainMenu();
}

void AppDelegate::forceLightAppearance()
{
    // Built from scratch rather than from the current palette, which a dark
    // desktop theme has already darkened.
    QPalette light(QColor(0xf6, 0xf4, 0xef));
    light.setColor(QPalette::Window, QColor(0xf6, 0xf4, 0xef));
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::AlternateBase, QColor(0xee, 0xec, 0xe6));
    light.setColor(QPalette::Text, Qt::black);
    light.setColor(QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80));
    light.setColor(QPalette::Button, QColor(0xe9, 0xe6, 0xdf));
    light.setColor(QPalette::ButtonText, Qt::black);
    light.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe1));
    light.setColor(QPalette::ToolTipText, Qt::black);
    light.setColor(QPalette::Highlight, QColor(0x3d, 0x7e, 0xd6));
    light.setColor(QPalette::HighlightedText, Qt::white);
    light.setColor(QPalette::BrightText, Qt::white);
    light.setColor(QPalette::Light, Qt::white);
    light.setColor(QPalette::Midlight, QColor(0xe0, 0xde, 0xd8));
    light.setColor(QPalette::Mid, QColor(0xb8, 0xb6, 0xb0));
    light.setColor(QPalette::Dark, QColor(0x8a, 0x88, 0x84));
    light.setColor(QPalette::Shadow, QColor(0x40, 0x40, 0x40));
    light.setColor(QPalette::Link, QColor(0x1a, 0x5f, 0xb4));
    light.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9a, 0x9a, 0x9a));
    light.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9a, 0x9a, 0x9a));
    light.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9a, 0x9a, 0x9a));
    QGuiApplication::setPalette(light);
}

void AppDelegate::trimMainMenu()
{
    if (!m_mainMenu)
        return;
    // Walk a copy from the end, so that each removal leaves the rows still
    // to be visited where they were.
    const QList<MainMenuEntry> snapshot = m_mainMenu->entries();
    for (qsizetype row = snapshot.size() - 1; row >= 0; --row) {
        const MainMenuEntry &entry = snapshot.at(row);
        if (!entry.isMenuItem())
            continue;
        if (removedMenuTitles().contains(entry.title, Qt::CaseSensitive))
            m_mainMenu->removeEntry(int(row));
    }
}

void AppDelegate::setAppState(AppState *state)
{
    // Every assignment is announced, the same object again too.
    m_appState = state;
    Q_EMIT appStateChanged();
}
