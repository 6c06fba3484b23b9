import QtQuick
import TovikNote.Views

// One of the window's two screen places. It holds the screen named by `kind`
// while it is in front and while it fades out after leaving the front.
Loader {
    id: slot

    required property AppState appState
    required property SyncManager syncManager
    required property int kind
    required property string noteId
    required property bool front

    opacity: front ? 1 : 0
    visible: opacity > 0
    enabled: front
    // The screen in front has the keyboard; the one fading out lets it go.
    focus: front
    z: front ? 1 : 0
    active: front || opacity > 0
    Behavior on opacity {
        NumberAnimation { duration: 300; easing.type: Easing.InOutQuad }
    }

    sourceComponent: kind === AppState.MainScreen ? mainScreen
                   : kind === AppState.NewNoteScreen ? newNoteScreen
                   : kind === AppState.NoteDetailScreen ? noteDetailScreen
                   : null

    Component {
        id: mainScreen
        MainView { appState: slot.appState; syncManager: slot.syncManager }
    }
    Component {
        id: newNoteScreen
        NewItemView { appState: slot.appState; noteId: slot.noteId }
    }
    Component {
        id: noteDetailScreen
        NoteDetailView { appState: slot.appState; noteId: slot.noteId }
    }
}
