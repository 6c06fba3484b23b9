#pragma once

#include "AppState.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// Drives the root content's cross-fade. The window has two screen slots: the
// front one is shown, the other fades out. A new screen goes into the slot
// that is not in front, which then comes to the front. Assigning the screen
// already shown changes nothing, so no transition starts.
class ScreenSwitcher : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)
    Q_PROPERTY(int frontSlot READ frontSlot NOTIFY slotKindsChanged FINAL)
    // Per slot: the screen kind (an AppState::ViewKind, or -1 for empty) and
    // the note identifier of an editor. The identifier is announced on its own
    // and before the kind, so a screen is never built with a stale identifier.
    Q_PROPERTY(QVariantList slotKinds READ slotKinds NOTIFY slotKindsChanged FINAL)
    Q_PROPERTY(QStringList slotNoteIds READ slotNoteIds NOTIFY slotNoteIdsChanged FINAL)
    Q_PROPERTY(int transitionCount READ transitionCount NOTIFY slotKindsChanged FINAL)

public:
    static constexpr int emptySlot = -1;

    explicit ScreenSwitcher(QObject *parent = nullptr);

    AppState *appState() const { return m_appState; }
    void setAppState(AppState *state);

    int frontSlot() const { return m_front; }
    QVariantList slotKinds() const;
    QStringList slotNoteIds() const;
    // How many screen changes were started since creation.
    int transitionCount() const { return m_transitions; }

Q_SIGNALS:
    void appStateChanged();
    void slotKindsChanged();
    void slotNoteIdsChanged();

private:
    struct Slot {
        int kind = emptySlot;
        QString noteId;
    };

    void show(const AppState::AppView &view);

    QPointer<AppState> m_appState;
    QMetaObject::Connection m_viewConnection;
    Slot m_slots[2];
    int m_front = 0;
    int m_transitions = 0;
    bool m_hasShown = false;
    AppState::AppView m_shown;
};
