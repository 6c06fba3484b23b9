#include "ScreenSwitcher.h"

ScreenSwitcher::ScreenSwitcher(QObject *parent) : QObject(parent) {}

void ScreenSwitcher::setAppState(AppState *state)
{
    if (m_appState == state)
        return;
    if (m_viewConnection)
        disconnect(m_viewConnection);
    m_appState = state;
    if (state) {
        m_viewConnection = connect(state, &AppState::currentViewChanged, this,
                                   [this] { show(m_appState->currentView()); });
        // The first screen appears without a fade.
        m_slots[m_front] = Slot{int(state->currentView().kind), state->currentView().noteId};
        m_shown = state->currentView();
        m_hasShown = true;
        Q_EMIT slotNoteIdsChanged();
        Q_EMIT slotKindsChanged();
    }
    Q_EMIT appStateChanged();
}

QVariantList ScreenSwitcher::slotKinds() const
{
    return {m_slots[0].kind, m_slots[1].kind};
}

QStringList ScreenSwitcher::slotNoteIds() const
{
    return {m_slots[0].noteId, m_slots[1].noteId};
}

void ScreenSwitcher::show(const AppState::AppView &view)
{
    if (m_hasShown && view == m_shown)
        return;
    const int back = 1 - m_front;
    // Empty the slot first: a screen still fading out there is dropped at
    // once instead of being handed another note. The new identifier goes in
    // while the slot is empty, so the screen built next sees it from the start.
    m_slots[back] = Slot{emptySlot, view.noteId};
    Q_EMIT slotKindsChanged();
    Q_EMIT slotNoteIdsChanged();
    m_slots[back].kind = int(view.kind);
    m_front = back;
    m_shown = view;
    m_hasShown = true;
    ++m_transitions;
    Q_EMIT slotKindsChanged();
}
