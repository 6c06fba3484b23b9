import QtQuick
import QtQuick.Controls
import TovikNote.Views

// One note's tile: turns over about its vertical axis on a long press.
Item {
    id: card

    // The card's state: its note, face, favourite mark and delete
    // confirmation. Whoever shows the card owns it and listens to its tap,
    // flipBack and deleteConfirmed signals.
    required property NoteCardState cardState
    readonly property var note: cardState ? cardState.note : undefined
    // A cell that is on its way out may outlive the state it showed.
    readonly property bool isFlipped: cardState?.isFlipped ?? false
    readonly property bool isFavorite: cardState?.localIsFavorite ?? false

    implicitHeight: 150
    height: 150

    transform: Rotation {
        origin.x: card.width / 2
        origin.y: card.height / 2
        axis { x: 0; y: 1; z: 0 }
        angle: card.isFlipped ? 180 : 0
        Behavior on angle { NumberAnimation { duration: 350; easing.type: Easing.InOutQuad } }
    }

    // Front face.
    Rectangle {
        id: front
        objectName: "cardFront"
        anchors.fill: parent
        radius: 10
        color: Theme.color(card.cardState?.fillColorName ?? "CardBGColor")
        opacity: card.isFlipped ? 0 : 1
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 500; easing.type: Easing.InOutQuad } }

        Column {
            anchors.fill: parent
            anchors.margins: 14
            spacing: 4

            Text {
                objectName: "previewText"
                width: parent.width
                height: parent.height - timeLabel.height - dateLabel.height - 2 * parent.spacing
                text: card.cardState?.previewText ?? ""
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                font.pixelSize: 14
                font.weight: Font.DemiBold
                color: "#1c1c1e"
            }
            Text {
                id: timeLabel
                text: card.cardState?.timeText ?? ""
                font.pixelSize: 11
                font.bold: true
                color: "#6e6b66"
            }
            Text {
                id: dateLabel
                text: card.cardState?.dateText ?? ""
                font.pixelSize: 11
                color: "#6e6b66"
            }
        }

        Icon {
            objectName: "favoriteMark"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 14
            visible: card.isFavorite
            symbol: "star.fill"
            size: 22
            color: Theme.favoriteMarkColor
        }
    }

    // Back face, itself turned over so that it reads right once the card is.
    Rectangle {
        id: back
        objectName: "cardBack"
        anchors.fill: parent
        radius: 10
        color: Theme.cardBGColor
        opacity: card.isFlipped ? 1 : 0
        visible: opacity > 0
        enabled: card.isFlipped
        Behavior on opacity { NumberAnimation { duration: 500; easing.type: Easing.InOutQuad } }
        transform: Rotation {
            origin.x: back.width / 2
            origin.y: back.height / 2
            axis { x: 0; y: 1; z: 0 }
            angle: 180
        }

        // The buttons exist only while the back shows: a grid of cards
        // builds none for the faces nobody turns.
        Loader {
            objectName: "cardBackButtons"
            anchors.fill: parent
            active: back.visible
            sourceComponent: Item {
                Row {
                    id: buttons
                    anchors.centerIn: parent
                    readonly property real gap: (back.width - 3 * 32) / 4
                    spacing: gap

                    CardButton {
                        objectName: "turnBackButton"
                        symbol: "arrow.uturn.backward"
                        tint: "#1f6fd1"
                        onClicked: card.cardState.flip()
                    }
                    CardButton {
                        objectName: "favoriteButton"
                        symbol: card.isFavorite ? "star.fill" : "star"
                        tint: "#d93a32"
                        onClicked: card.cardState.toggleFavorite()
                    }
                    CardButton {
                        objectName: "deleteButton"
                        symbol: "trash"
                        tint: "#d93a32"
                        onClicked: card.cardState.showDeleteConfirmation = true
                    }
                }
            }
        }
    }

    TapHandler {
        // A press that wanders further than this is not a press.
        dragThreshold: 10
        longPressThreshold: 0.5
        onTapped: card.cardState.click()
        onLongPressed: card.cardState.flip()
    }

    // Made only while it is shown: a grid of cards builds no dialog it does not show.
    Loader {
        id: deleteConfirmationLoader
        objectName: "deleteConfirmationLoader"
        active: card.cardState !== null && card.cardState.showDeleteConfirmation
        sourceComponent: Component {
            Dialog {
                id: deleteConfirmation
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
                    text: deleteConfirmation.title
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
                    Button {
                        objectName: "cancelDeleteButton"
                        text: "Cancel"
                        DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
                    }
                    Button {
                        objectName: "confirmDeleteButton"
                        text: "Delete"
                        palette.buttonText: "#c62828"
                        DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                        onClicked: card.cardState.confirmDelete()
                    }
                }
                onRejected: card.cardState?.cancelDelete()
                onClosed: card.cardState?.cancelDelete()
                Component.onCompleted: open()
            }
        }
    }
}
