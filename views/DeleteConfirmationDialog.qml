import QtQuick
import QtQuick.Controls
import TovikNote.Views

// The question a card asks before its note is deleted, over the whole window.
Dialog {
    id: dialog
    // The card whose note would be deleted.
    property NoteCardState cardState

    objectName: "deleteConfirmation"
    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    title: "Delete Note"
    width: 360
    padding: 20
    topPadding: 6

    background: Rectangle {
        radius: 10
        color: "white"
        border.color: "#d6d2c9"
    }
    header: Label {
        text: dialog.title
        font.pixelSize: 16
        font.bold: true
        color: "black"
        padding: 20
        bottomPadding: 0
    }

    Label {
        width: parent.width
        wrapMode: Text.Wrap
        text: "Are you sure you want to delete this note?"
        font.pixelSize: 14
        color: "#3a3835"
    }

    // A row of its own rather than a button box: the box, being a list,
    // gives its current button the focus after the safe answer got it.
    footer: Item {
        implicitHeight: answers.implicitHeight + 32
        Row {
            id: answers
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10
            DialogButton {
                id: cancelButton
                objectName: "cancelDeleteButton"
                text: "Cancel"
                onClicked: dialog.reject()
            }
            DialogButton {
                objectName: "confirmDeleteButton"
                text: "Delete"
                palette.buttonText: "#c62828"
                onClicked: dialog.cardState.confirmDelete()
            }
        }
    }
    onRejected: dialog.cardState?.cancelDelete()
    onClosed: dialog.cardState?.cancelDelete()
    // The question keeps the keyboard while it is open; Escape cancels it
    // and the safe answer is the one Return gives first.
    focus: true
    onOpened: cancelButton.forceActiveFocus(Qt.TabFocusReason)
    Component.onCompleted: open()
}
