import QtQuick
import QtQuick.Controls
import TovikNote.Views

// One note's tile: turns over about its vertical axis on a long press, a
// right-click, the Menu key or Shift+F10. With the keyboard focus, Return
// opens it and Delete asks to delete it.
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

    // Read out as one line: the preview, when it changed, and the mark.
    Accessible.role: Accessible.ListItem
    Accessible.name: (cardState?.previewText ?? "") + ", " + (cardState?.timeText ?? "") + " "
                     + (cardState?.dateText ?? "") + (isFavorite ? ", favourite" : "")
    Accessible.focusable: true
    Accessible.focused: activeFocus
    Accessible.onPressAction: cardState?.click()

    // What the grid's menu commands do to the card with the focus.
    function runCommand(name) {
        if (!cardState)
            return
        if (name === "openNote")
            cardState.click()
        else if (name === "turnCard")
            turnByKeyboard()
        else if (name === "deleteNote")
            cardState.showDeleteConfirmation = true
    }
    // Turned over from the keyboard, the keyboard follows: to the back
    // face's first button, or back to the card.
    property bool focusBackWhenShown: false
    function turnByKeyboard() {
        focusBackWhenShown = !isFlipped
        cardState.flip()
        if (!cardState.isFlipped)
            card.forceActiveFocus(Qt.OtherFocusReason)
    }
    Keys.onReturnPressed: runCommand("openNote")
    Keys.onEnterPressed: runCommand("openNote")
    Keys.onDeletePressed: runCommand("deleteNote")
    Keys.onMenuPressed: runCommand("turnCard")
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_F10 && event.modifiers === Qt.ShiftModifier) {
            runCommand("turnCard")
            event.accepted = true
        }
    }

    // How far the card has turned: 0 to 180 degrees about its vertical axis,
    // and the back face's opacity. Only a turn of the state shown animates; a
    // state newly handed to the card shows at once as it stands.
    property real turnAngle: 0
    property real backOpacity: 0

    // Read from the state itself: the isFlipped binding may not have caught
    // up yet when the state or its face has just changed.
    function stateIsFlipped() { return card.cardState ? card.cardState.isFlipped : false }
    function showTurnAsItStands() {
        if (turn)
            turn.stop()
        const flipped = stateIsFlipped()
        turnAngle = flipped ? 180 : 0
        backOpacity = flipped ? 1 : 0
    }

    onCardStateChanged: showTurnAsItStands()
    Component.onCompleted: showTurnAsItStands()
    Connections {
        target: card.cardState
        function onIsFlippedChanged() {
            const flipped = card.stateIsFlipped()
            if (!card.turn)
                card.turn = turnComponent.createObject(card)
            card.turn.angleTo = flipped ? 180 : 0
            card.turn.opacityTo = flipped ? 1 : 0
            card.turn.restart()
        }
    }
    // Made on the first turn: a grid of cards builds no animation for the
    // cards nobody turns.
    property ParallelAnimation turn: null
    Component {
        id: turnComponent
        ParallelAnimation {
            property alias angleTo: turnAngleAnimation.to
            property alias opacityTo: backOpacityAnimation.to
            NumberAnimation {
                id: turnAngleAnimation
                target: card
                property: "turnAngle"
                duration: 350
                easing.type: Easing.InOutQuad
            }
            NumberAnimation {
                id: backOpacityAnimation
                target: card
                property: "backOpacity"
                duration: 500
                easing.type: Easing.InOutQuad
            }
        }
    }

    transform: Rotation {
        origin.x: card.width / 2
        origin.y: card.height / 2
        axis { x: 0; y: 1; z: 0 }
        angle: card.turnAngle
    }

    // Front face.
    Rectangle {
        id: front
        objectName: "cardFront"
        anchors.fill: parent
        radius: 10
        color: Theme.color(card.cardState?.fillColorName ?? "CardBGColor")
        opacity: 1 - card.backOpacity
        visible: opacity > 0

        Text {
            objectName: "previewText"
            x: 14
            y: 14
            width: parent.width - 28
            height: dateLabel.y - 4 - y - timeLabel.height - 4
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
            x: 14
            y: dateLabel.y - 4 - height
            text: card.cardState?.timeText ?? ""
            font.pixelSize: 11
            font.bold: true
            color: "#6e6b66"
        }
        Text {
            id: dateLabel
            x: 14
            y: parent.height - 14 - height
            text: card.cardState?.dateText ?? ""
            font.pixelSize: 11
            color: "#6e6b66"
        }

        Icon {
            objectName: "favoriteMark"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 14
            visible: card.isFavorite
            // Nothing to lay out on the cards that carry no mark.
            symbol: visible ? "star.fill" : ""
            size: 22
            color: Theme.favoriteMarkColor
        }
    }

    // Back face, itself turned over so that it reads right once the card is.
    // It exists only while it shows: a grid of cards builds none for the faces
    // nobody turns, and a hidden card none at all.
    Loader {
        objectName: "cardBackLoader"
        anchors.fill: parent
        active: card.visible && card.backOpacity > 0
        sourceComponent: Rectangle {
            id: back
            objectName: "cardBack"
            radius: 10
            color: Theme.cardBGColor
            opacity: card.backOpacity
            enabled: card.isFlipped
            transform: Rotation {
                origin.x: back.width / 2
                origin.y: back.height / 2
                axis { x: 0; y: 1; z: 0 }
                angle: 180
            }

            Row {
                id: buttons
                anchors.centerIn: parent
                readonly property real gap: (back.width - 3 * 32) / 4
                spacing: gap

                CardButton {
                    id: turnBackButton
                    objectName: "turnBackButton"
                    text: "Turn back"
                    symbol: "arrow.uturn.backward"
                    tint: "#1f6fd1"
                    onClicked: {
                        const hadFocus = activeFocus
                        card.cardState.flip()
                        if (hadFocus)
                            card.forceActiveFocus(Qt.OtherFocusReason)
                    }
                    Component.onCompleted: {
                        if (card.focusBackWhenShown)
                            forceActiveFocus(Qt.TabFocusReason)
                        card.focusBackWhenShown = false
                    }
                }
                CardButton {
                    objectName: "favoriteButton"
                    text: card.isFavorite ? "Remove from favourites" : "Add to favourites"
                    symbol: card.isFavorite ? "star.fill" : "star"
                    tint: "#d93a32"
                    onClicked: card.cardState.toggleFavorite()
                }
                CardButton {
                    objectName: "deleteButton"
                    text: "Delete"
                    symbol: "trash"
                    tint: "#d93a32"
                    onClicked: card.cardState.showDeleteConfirmation = true
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
    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: card.cardState.flip()
    }

    FocusRing {
        gap: 3
        radius: 12
        shown: card.activeFocus
    }

    // Made only while it is shown, and from a file of its own: a grid of
    // cards builds no dialog it does not show, nor a component for one per
    // card. A hidden card shows none; the state keeps the question for when
    // the card shows again.
    Loader {
        id: deleteConfirmationLoader
        objectName: "deleteConfirmationLoader"
        active: card.visible && card.cardState !== null && card.cardState.showDeleteConfirmation
        source: "DeleteConfirmationDialog.qml"
        onLoaded: item.cardState = Qt.binding(() => card.cardState)
    }
}
