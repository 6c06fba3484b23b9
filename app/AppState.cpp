#include "AppState.h"

AppState::AppState(QObject *parent) : QObject(parent) {}

void AppState::setNotes(QList<Note> notes)
{
    m_notes = std::move(notes);
    Q_EMIT notesChanged();
}

void AppState::setCurrentView(const AppView &view)
{
    // Every assignment is announced, an equal one too: whoever shows the
    // screen decides whether anything changes.
    m_currentView = view;
    Q_EMIT currentViewChanged();
}
