import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A button of the editors' top bar: one symbol in a 22 by 22 frame.
IconButton {
    id: button

    implicitWidth: 30
    implicitHeight: 30
    padding: 4
    contentItem: Icon {
        symbol: button.symbol
        size: 20
        width: 22
        height: 22
        opacity: button.enabled ? 1 : 0.35
    }
    background: Rectangle {
        radius: 4
        color: button.pressed ? "#d9d5cc" : button.hovered ? "#e9e6df" : "transparent"
    }
}
