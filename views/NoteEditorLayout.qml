import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views

// The look both note editors share: the top bar with the "Saved" indicator,
// the action button, the editor's own type control and the home button, and
// below it the text editor or the to-do list.
Rectangle {
    id: layout

    required property NoteEditorState editor
    // The picker of a new note, or the type mark of an existing one.
    required property Component typeControl

    readonly property bool isTodo: editor.selectedType === 2

    color: Theme.color("BGColor")

    // The menu commands this editor answers, by name.
    readonly property var availableCommands: isTodo ? ["addItem", "backToNotes"]
        : layout.editor.content.length > 0 ? ["save", "backToNotes"] : ["backToNotes"]
    function runCommand(name) {
        if (name === "save" && !isTodo && editor.content.length > 0)
            editor.saveNote()
        else if (name === "addItem" && isTodo)
            editor.addItem()
        else if (name === "backToNotes")
            editor.goHome()
    }
    // Leaving by keyboard stores the note as the home button does, from
    // wherever the focus is, the text included.
    Shortcut {
        sequences: ["Escape", "Ctrl+W", "Alt+Left"]
        enabled: layout.enabled
        onActivated: layout.runCommand("backToNotes")
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: bar.implicitHeight + 8
            color: Theme.color("BGColor")

            RowLayout {
                id: bar
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                anchors.topMargin: 4
                anchors.bottomMargin: 4

                Label {
                    objectName: "savedMessage"
                    visible: layout.editor.savedMessage.length > 0
                    text: layout.editor.savedMessage
                    color: "#34c759"
                    font.pixelSize: 13
                }
                Item { Layout.fillWidth: true }

                EditorBarButton {
                    objectName: "saveButton"
                    text: "Save"
                    visible: !layout.isTodo
                    symbol: "checkmark"
                    action: Action {
                        shortcut: "Ctrl+S"
                        enabled: !layout.isTodo && layout.editor.content.length > 0
                        onTriggered: layout.editor.saveNote()
                    }
                }
                EditorBarButton {
                    objectName: "addItemButton"
                    text: "Add item"
                    visible: layout.isTodo
                    symbol: "checklist"
                    action: Action {
                        shortcut: "Ctrl+G"
                        enabled: layout.isTodo
                        onTriggered: layout.editor.addItem()
                    }
                }
                Loader {
                    Layout.leftMargin: 22
                    Layout.alignment: Qt.AlignVCenter
                    sourceComponent: layout.typeControl
                }
                EditorBarButton {
                    objectName: "homeButton"
                    text: "Back to notes"
                    Layout.leftMargin: 22
                    symbol: "house.fill"
                    onClicked: layout.editor.goHome()
                }
            }
        }

        Loader {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            Layout.topMargin: 4
            Layout.bottomMargin: 4
            // Built once the kind is known, so a to-do list never passes
            // through the text editor.
            active: layout.editor.loaded
            sourceComponent: layout.isTodo ? todoEditor : textEditor
        }
    }

    Component {
        id: textEditor
        ScrollView {
            // Wrapped text takes the width it is given; asking the text for
            // its width in turn would go round in circles.
            contentWidth: availableWidth
            ScrollBar.vertical.policy: ScrollBar.AlwaysOff
            ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

            StoredTextArea {
                objectName: "contentEditor"
                Accessible.name: "Note text"
                source: layout.editor
                wrapMode: TextArea.Wrap
                font.pixelSize: 14
                background: Rectangle { color: Theme.color("BGColor") }
                // Typing goes straight into the note once its editor is shown.
                Component.onCompleted: forceActiveFocus()
            }
        }
    }

    Component {
        id: todoEditor
        TodoListEditor {
            editor: layout.editor
        }
    }
}
