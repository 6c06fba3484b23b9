import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A button of the editors' top bar: one symbol in a 22 by 22 frame.
ToolButton {
    required property string symbol

    implicitWidth: 30
    implicitHeight: 30
    focusPolicy: Qt.NoFocus
    display: AbstractButton.IconOnly
    contentItem: Icon {
        symbol: parent.symbol
        size: 20
        width: 22
        height: 22
        opacity: parent.enabled ? 1 : 0.35
    }
}
