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

    footer: DialogButtonBox {
        padding: 16
        spacing: 10
        background: null
        DialogButton {
            id: cancelButton
            objectName: "cancelDeleteButton"
            text: "Cancel"
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        DialogButton {
            objectName: "confirmDeleteButton"
            text: "Delete"
            palette.buttonText: "#c62828"
            DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
            onClicked: dialog.cardState.confirmDelete()
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
