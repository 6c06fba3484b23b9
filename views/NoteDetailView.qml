import QtQuick
import TovikNote.Views

// The editor of an existing note; its kind is shown, not chosen.
NoteEditorLayout {
    id: view

    required property AppState appState
    required property string noteId

    editor: NoteDetailViewState {
        appState: view.appState
        noteId: view.noteId
    }

    typeControl: Icon {
        objectName: "typeMark"
        symbol: "drop.fill"
        color: view.isTodo ? Theme.color("CustomizeYellowColor") : Theme.color("CustomizeBlueColor")
        // The kind colours are pale; an edge keeps the mark visible on the bar.
        style: Text.Outline
        styleColor: Qt.darker(color, 1.5)
    }

    // The note is read each time the editor comes on screen.
    Component.onCompleted: editor.loadNote()
}
