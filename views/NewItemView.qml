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

    component Segment: TabButton {
        id: segment
        focusPolicy: Qt.StrongFocus
        background: Rectangle {
            anchors.fill: parent
            anchors.margins: 2
            radius: 4
            color: segment.checked ? "white" : "transparent"
        }
        // Stays readable on the grey track while the picker is disabled.
        contentItem: Text {
            text: segment.text
            font: segment.font
            color: segment.enabled ? "#1d1d1f" : "#8e8e93"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        Keys.onReturnPressed: if (enabled) clicked()
        Keys.onEnterPressed: if (enabled) clicked()
        FocusRing { shown: segment.visualFocus; radius: 5 }
    }

    // The kind can be chosen only while the note is empty.
    typeControl: TabBar {
        objectName: "typePicker"
        // Tab goes to the kinds themselves; the bar keeps no focus of its own.
        focusPolicy: Qt.NoFocus
        Accessible.name: "Kind"
        width: 100
        enabled: view.editor.content.length === 0
        currentIndex: view.editor.selectedType - 1
        // A segmented look: the chosen kind stands out white on a grey track.
        background: Rectangle {
            radius: 5
            color: Theme.color("CardBGColor")
            border.color: "#c9c5bc"
        }

        Segment {
            objectName: "noteType"
            text: qsTr("Note")
            onClicked: view.editor.selectedType = 1
        }
        Segment {
            objectName: "todoType"
            text: qsTr("Todo")
            onClicked: view.editor.selectedType = 2
        }
    }
}
