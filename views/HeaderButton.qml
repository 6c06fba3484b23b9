import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A header button holding one black symbol in a 32 by 32 frame.
IconButton {
    id: button
    property real symbolOpacity: 1

    implicitWidth: 32
    implicitHeight: 32
    padding: 0
    contentItem: Icon {
        symbol: button.symbol
        size: 22
        color: "black"
        opacity: button.symbolOpacity
    }
    background: Rectangle {
        radius: 6
        color: button.pressed ? "#d9d5cc" : button.hovered ? "#e9e6df" : "transparent"
        border.color: button.hovered ? "#cfcac0" : "transparent"
    }
}
