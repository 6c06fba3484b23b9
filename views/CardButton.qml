import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A borderless icon button of a card's back face.
IconButton {
    id: button
    property color tint

    width: 32
    height: 32
    contentItem: Icon {
        symbol: button.symbol
        size: 24
        color: button.tint
        opacity: button.pressed ? 0.5 : 1
    }
    background: null
}
