import QtQuick
import QtQuick.Controls
import TovikNote.Views

// The editor of a note just created from the grid.
NoteEditorLayout {
    id: view

    required property AppState appState
    required property string noteId

    editor: NewItemViewState {
        appState: view.appState
        noteId: view.noteId
    }

    // The kind can be chosen only while the note is empty.
    typeControl: TabBar {
        objectName: "typePicker"
        width: 100
        enabled: view.editor.content.length === 0
        currentIndex: view.editor.selectedType - 1

        TabButton {
            objectName: "noteType"
            text: qsTr("Note")
            onClicked: view.editor.selectedType = 1
        }
        TabButton {
            objectName: "todoType"
            text: qsTr("Todo")
            onClicked: view.editor.selectedType = 2
        }
    }
}
